# KORU: the whole set-up on a fresh Debian 12 machine is `make run` or `make test`.
SHELL := /bin/bash
JOBS  ?= 2
BUILD ?= build
PACKAGES := cmake g++ make qt6-base-dev qt6-base-dev-tools libgtest-dev libgmock-dev libbenchmark-dev pkg-config libqrencode-dev
CMAKE_FLAGS ?=

.PHONY: all deps test-deps build test run test-sanitize test-asan test-tsan install clean

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

# FOLDERS, when set (say FOLDERS="server net"), builds and runs only the tests of those folders.
FOLDERS ?=
comma := ,
empty :=
space := $(empty) $(empty)
FOLDER_TARGETS := $(if $(FOLDERS),$(addprefix --target$(space),$(addprefix tests_,$(FOLDERS))))
FOLDER_LABELS := $(if $(FOLDERS),-L '^($(subst $(space),|,$(strip $(FOLDERS))))$$')

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) $(FOLDER_TARGETS)

# The load tests (label "load") run only with `make test-load`.
TEST_ENV ?=
# The browser checks (tests/browser/) need a real browser, and node with npm to drive it; without
# root they skip. A node that came from elsewhere brings its own npm, which Debian's npm package
# would conflict with: node and npm are asked for only when npm is missing.
TEST_PACKAGES := chromium curl $(if $(shell command -v npm),,nodejs npm)
test-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGES) $(TEST_PACKAGES)" || \
	  echo "The browser checks will be skipped."

test: test-deps build
	cd $(BUILD) && $(TEST_ENV) ctest --output-on-failure -j$(JOBS) -LE '^load$$' $(FOLDER_LABELS)

test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DKORU_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"

test-tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DKORU_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug" \
	  TEST_ENV="TSAN_OPTIONS=suppressions=$(CURDIR)/tests/tsan.supp"

test-sanitize: test-asan test-tsan

# The load and fault tests: minutes long, loopback only; they share the plain build, whose test
# run leaves them out. Each test prints the figures it measured.
LOAD_BUILD ?= $(BUILD)
.PHONY: test-load
test-load: deps
	cmake -S . -B $(LOAD_BUILD) -DKORU_LOAD_TESTS=ON $(CMAKE_FLAGS) >/dev/null
	cmake --build $(LOAD_BUILD) -j$(JOBS) --target koru_load_tests
	cd $(LOAD_BUILD) && ctest -L load --output-on-failure
	@grep -h '^\[ figures' $(LOAD_BUILD)/Testing/Temporary/LastTest.log || true

run: build
	@if [ -x $(BUILD)/koru ]; then bash demo/run-demo.sh $(BUILD); \
	else echo "The program entry is not built yet: libraries and tests are in $(BUILD)/."; fi

install: build
	cmake --install $(BUILD)

# The Debian package $(BUILD)/koru_<version>_<arch>.deb, made by CPack from the install rules.
# Only the program, its modules and the desktop files are built for it, not the tests.
PACKAGE_PACKAGES := dpkg-dev file
PACKAGE_TEST_PACKAGES := lintian appstream desktop-file-utils man-db
.PHONY: package test-package test-package-install

package:
	$(MAKE) deps PACKAGES="$(PACKAGES) $(PACKAGE_PACKAGES)"
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target koru koru_desktop_files
	cd $(BUILD) && cpack -G DEB

# The package's checks: validators, lintian, and the unpacked program serving offscreen.
test-package:
	$(MAKE) deps PACKAGES="$(PACKAGES) $(PACKAGE_PACKAGES) $(PACKAGE_TEST_PACKAGES)"
	$(MAKE) package
	bash tests/package/check-package.sh $(BUILD)

# Installs the package on this machine with apt, starts it from its menu entry's command, purges
# it and checks that nothing is left: it changes the machine, so CI does not run it.
test-package-install: package
	bash tests/package/check-install.sh $(BUILD)

clean:
	rm -rf build build-asan build-tsan build-fuzz

# libFuzzer targets, in a clang build of their own ($(FUZZ_BUILD)). `make fuzz` runs each target
# for FUZZ_SECONDS on a working corpus grown from its seeds in tests/fuzz/<target>/; findings go
# to $(FUZZ_BUILD)/artifacts/. `make fuzz-seeds` only replays the seeds, a few seconds in all.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
# Extra libFuzzer flags; CI passes a fixed -seed so that its runs take the same paths each time.
FUZZ_FLAGS ?=
FUZZ_TARGETS := request collector names reply range mime settings plugininfo folderpage
FUZZ_PACKAGES := clang libclang-rt-14-dev

.PHONY: fuzz fuzz-build fuzz-seeds

fuzz-build:
	$(MAKE) deps PACKAGES="$(PACKAGES) $(FUZZ_PACKAGES)"
	cmake -S tests/fuzz -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	cmake --build $(FUZZ_BUILD) -j$(JOBS)

fuzz-seeds: fuzz-build
	cd $(FUZZ_BUILD) && ctest --output-on-failure

fuzz: fuzz-build
	@status=0; mkdir -p $(FUZZ_BUILD)/artifacts $(FUZZ_BUILD)/logs; \
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  dict=""; if [ -f tests/fuzz/$$t.dict ]; then dict="-dict=tests/fuzz/$$t.dict"; fi; \
	  log=$(FUZZ_BUILD)/logs/$$t.log; \
	  echo "== fuzz_$$t, $(FUZZ_SECONDS) s (log: $$log)"; \
	  if ASAN_OPTIONS=$${ASAN_OPTIONS:-quarantine_size_mb=64} $(FUZZ_BUILD)/fuzz_$$t \
	       -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 $$dict $(FUZZ_FLAGS) \
	       -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t- $(FUZZ_BUILD)/corpus/$$t tests/fuzz/$$t \
	       >$$log 2>&1; then \
	    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' $$log; \
	  else \
	    status=1; tail -n 40 $$log; \
	  fi; \
	done; \
	if [ $$status -ne 0 ]; then echo "Findings are in $(FUZZ_BUILD)/artifacts/"; fi; \
	exit $$status
