# KORU: the whole set-up on a fresh Debian 12 machine is `make run` or `make test`.
SHELL := /bin/bash
JOBS  ?= 2
BUILD ?= build
PACKAGES := cmake g++ make qt6-base-dev qt6-base-dev-tools libgtest-dev libgmock-dev libbenchmark-dev
CMAKE_FLAGS ?=

.PHONY: all deps build test run test-sanitize test-asan test-tsan install clean

all: build

# Installs the Debian packages that are missing; without root it prints the line to run instead.
deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    if [ -z "$$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v -e lock -e partial -e auxfiles)" ]; then apt-get update; fi; \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else \
	    echo "Missing packages. Run: sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DKORU_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"

test-tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DKORU_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug"

test-sanitize: test-asan test-tsan

run: build
	@if [ -x $(BUILD)/koru ]; then bash demo/run-demo.sh $(BUILD); \
	else echo "The program entry is not built yet: libraries and tests are in $(BUILD)/."; fi

install: build
	cmake --install $(BUILD)

clean:
	rm -rf build build-asan build-tsan
