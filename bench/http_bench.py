#!/usr/bin/env python3
"""Loads KORU (and, with --peers, general-purpose servers) over loopback with ab.

Loads: a 1 KB file at concurrency 1 and 32, a 10 MiB file at concurrency 1 and 8, the 10 MiB file
read in 1 MiB ranges at concurrency 8, and the listing of a folder of 1,000 files at concurrency 8,
all HTTP/1.0 without keep-alive. A server that serves no ranges, or does not list the folder (an
answer other than 200, or a page without the files' names), skips that load. Prints requests per
second, mean, median and 99th-percentile latency, MB/s,
failures, and KORU's thread count and resident memory before and after each load. With --peers
the servers run alternately in every round and a ratio KORU / best peer is printed per load.
With --counts it prints instead the program's system calls and context switches per request
(perf stat), which unlike the rates do not depend on how busy the machine is.
"""
import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LOADS = [  # name, file, concurrency, requests
    ("1k-c1", "1k.bin", 1, 5000),
    ("1k-c32", "1k.bin", 32, 20000),
    ("10m-c1", "10m.bin", 1, 100),
    ("10m-c8", "10m.bin", 8, 200),
    ("range-c8", "10m.bin", 8, 1000),
    ("dir-c8", "many/", 8, 2000),
]
# The folder the listing load asks for, and how many files it holds.
LISTED_FILES = 1000
MIB = 1024 * 1024
# The range load reads the 10 MiB file as its ten 1 MiB ranges, a run of `ab` for each (it sends
# one fixed header per run), the requests shared out evenly.
RANGES = {"range-c8": [f"bytes={i * MIB}-{(i + 1) * MIB - 1}" for i in range(10)]}
# Every server runs in a session of its own, as a service or a program started from the desktop
# does. In the load generator's session the kernel's per-session scheduling (autogroups) would set
# each server thread against `ab` one by one, which weighs on servers with several threads.
# `--same-session` keeps them in this one, to show that effect.
SESSIONS = True

PEER_PACKAGES = {"nginx": "nginx-light", "lighttpd": "lighttpd", "webfs": "webfs"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def make_docroot(folder):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "1k.bin"), "wb") as f:
        f.write(os.urandom(1024))
    with open(os.path.join(folder, "10m.bin"), "wb") as f:
        f.write(os.urandom(10 * 1024 * 1024))
    with open(os.path.join(folder, "index.htm"), "w") as f:
        f.write("<p>bench</p>")
    many = os.path.join(folder, "many")
    os.makedirs(many, exist_ok=True)
    for i in range(LISTED_FILES):
        with open(os.path.join(many, f"file-{i:04d}.txt"), "w") as f:
            f.write(f"{i}\n")


def lists_folder(port, path):
    """Whether the server answers `path` with a listing that names the folder's files."""
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/{path}", timeout=10) as reply:
            page = reply.read().decode("utf-8", "replace")
            return reply.status == 200 and f"file-{LISTED_FILES - 1:04d}.txt" in page
    except (OSError, urllib.error.URLError):
        return False


def runnable(server, path):
    """False, with a note, for a folder load on a server that does not list folders."""
    if not path.endswith("/") or lists_folder(server.port, path):
        return True
    print(f"{server.name}: /{path} is not listed, its load is skipped", file=sys.stderr)
    return False


def cpu_seconds(pid):
    """User + system CPU time of a server: the process, its threads and its child processes."""
    tick = os.sysconf("SC_CLK_TCK")
    total = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        # fields[1] is the parent; utime and stime are fields 14 and 15 of the whole line.
        if int(entry) == pid or int(fields[1]) == pid:
            total += int(fields[11]) + int(fields[12])
    return total / tick


def server_pids(pid):
    """The server's process and its child processes (a peer's workers)."""
    pids = [str(pid)]
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as f:
                if entry.isdigit() and int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                    pids.append(entry)
        except OSError:
            continue
    return pids


def proc_status(pid):
    values = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, rest = line.partition(":")
                values[key] = rest.strip()
    except OSError:
        return None, None
    return int(values.get("Threads", "0")), int(values.get("VmRSS", "0 kB").split()[0])


class Koru:
    name = "koru"

    def __init__(self, work, docroot, binary=None):
        self.port = free_port()
        store = os.path.join(work, "store", "Quillbrook")
        os.makedirs(store, exist_ok=True)
        with open(os.path.join(store, "Projects.conf"), "w") as f:
            f.write("[KORU]\nSettings\\CBoxes=0000\n"
                    f"Settings\\Edit1={docroot}/\nSettings\\Edit2=index.htm\n"
                    f"Settings\\Edit4={self.port}\nSettings\\Edit6={work}/noplugins/\n"
                    f"Settings\\Edit12={work}/koru.log\nSettings\\FolderPages=1\n")
        # A runtime folder of its own: a KORU the user runs must not be taken for this one.
        runtime = os.path.join(work, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        os.chmod(runtime, 0o700)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                   XDG_CONFIG_DIRS=os.path.join(work, "store"), XDG_RUNTIME_DIR=runtime)
        self.proc = subprocess.Popen([binary or os.path.join(ROOT, "build", "koru")], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=SESSIONS)
        if not wait_port(self.port):
            raise RuntimeError("koru did not start")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)


class Peer:
    def __init__(self, name, work, docroot):
        self.name = name
        self.port = free_port()
        conf = os.path.join(work, name)
        os.makedirs(conf, exist_ok=True)
        if name == "nginx":
            path = os.path.join(conf, "nginx.conf")
            with open(path, "w") as f:
                f.write(f"daemon off; worker_processes auto; pid {conf}/nginx.pid;\n"
                        f"error_log {conf}/error.log; events {{ worker_connections 4096; }}\n"
                        f"http {{ access_log off; sendfile on; keepalive_timeout 0;\n"
                        f"  client_body_temp_path {conf}; proxy_temp_path {conf};\n"
                        f"  fastcgi_temp_path {conf}; uwsgi_temp_path {conf}; scgi_temp_path {conf};\n"
                        f"  server {{ listen 127.0.0.1:{self.port}; root {docroot}; autoindex on; }} }}\n")
            cmd = ["nginx", "-c", path, "-p", conf]
        elif name == "lighttpd":
            path = os.path.join(conf, "lighttpd.conf")
            with open(path, "w") as f:
                f.write(f'server.document-root = "{docroot}"\nserver.port = {self.port}\n'
                        f'server.bind = "127.0.0.1"\nserver.max-keep-alive-requests = 0\n'
                        f'server.errorlog = "{conf}/error.log"\n'
                        # Listings are made afresh for each request, as KORU's are; beyond a
                        # few at a time it answers 503, which counts as failed requests.
                        f'server.modules += ("mod_dirlisting")\ndir-listing.activate = "enable"\n')
            cmd = ["lighttpd", "-D", "-f", path]
        elif name == "webfs":
            cmd = ["webfsd", "-F", "-p", str(self.port), "-i", "127.0.0.1", "-r", docroot]
        else:
            cmd = [sys.executable, "-m", "http.server", str(self.port), "--bind", "127.0.0.1",
                   "--directory", docroot]
        self.proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=SESSIONS)
        if not wait_port(self.port):
            raise RuntimeError(f"{name} did not start")

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def ab_command(port, path, concurrency, requests, header=None):
    extra = ["-H", f"Range: {header}"] if header else []
    return (["ab", "-q", "-r", "-n", str(requests), "-c", str(concurrency)] + extra +
            [f"http://127.0.0.1:{port}/{path}"])


def load_runs(load, path, concurrency, requests):
    """The `ab` runs of a load: (range header or None, requests) each."""
    ranges = RANGES.get(load)
    if not ranges:
        return [(None, requests)]
    each = max(concurrency, requests // len(ranges))
    return [(r, each) for r in ranges]


def serves_ranges(port, path):
    """True when the server answers a Range request with 206 and the part's length."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(f"GET /{path} HTTP/1.0\r\nHost: x\r\nRange: bytes=1-10\r\n\r\n".encode())
        reply = b""
        while chunk := s.recv(65536):
            reply += chunk
    head, _, body = reply.partition(b"\r\n\r\n")
    return head.split(b" ")[1:2] == [b"206"] and len(body) == 10


def run_load(port, load, path, concurrency, requests):
    """One load: a single `ab` run, or the runs of a range load combined into one result."""
    runs = [dict(run_ab(port, path, concurrency, n, header), n=n)
            for header, n in load_runs(load, path, concurrency, requests)]
    if len(runs) == 1:
        return runs[0]
    seconds = [r["n"] / r["rps"] if r["rps"] else 0.0 for r in runs]
    total = sum(seconds) or float("nan")
    return {
        "rps": sum(r["n"] for r in runs) / total,
        "mean_ms": sum(r["mean_ms"] * r["n"] for r in runs) / sum(r["n"] for r in runs),
        "median_ms": statistics.median(r["median_ms"] for r in runs),
        "p99_ms": max(r["p99_ms"] for r in runs),
        "mbs": sum(r["mbs"] * t for r, t in zip(runs, seconds)) / total,
        "failed": sum(r["failed"] for r in runs),
        "complete": sum(r["complete"] for r in runs),
        "n": sum(r["n"] for r in runs),
    }


def run_ab(port, path, concurrency, requests, header=None):
    out = subprocess.run(ab_command(port, path, concurrency, requests, header),
                         capture_output=True, text=True, timeout=600).stdout

    def grab(pattern, default=0.0):
        m = re.search(pattern, out)
        return float(m.group(1)) if m else default
    return {
        "rps": grab(r"Requests per second:\s+([\d.]+)"),
        "mean_ms": grab(r"Time per request:\s+([\d.]+) \[ms\] \(mean\)"),
        "median_ms": grab(r"\n\s+50%\s+(\d+)"),
        "p99_ms": grab(r"\n\s+99%\s+(\d+)"),
        "mbs": grab(r"Transfer rate:\s+([\d.]+)") / 1024.0,
        "failed": int(grab(r"Failed requests:\s+(\d+)")) + int(grab(r"Non-2xx responses:\s+(\d+)")),
        "complete": int(grab(r"Complete requests:\s+(\d+)")),
    }


def ensure_peers(names):
    missing = [PEER_PACKAGES[n] for n in names
               if n in PEER_PACKAGES and not shutil.which("webfsd" if n == "webfs" else n)]
    if shutil.which("ab") is None:
        missing.append("apache2-utils")
    if missing:
        if os.geteuid() != 0:
            sys.exit("Missing: run sudo apt-get install -y " + " ".join(missing))
        subprocess.run(["apt-get", "install", "-y"] + missing, check=True,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        # Packaged servers start themselves; the benchmark runs its own instances.
        for service in ("nginx", "lighttpd", "webfs"):
            subprocess.run(["service", service, "stop"], capture_output=True)


def count_per_request(binary, work, docroot, scale, name="koru", only=None):
    """System calls and context switches of a server per request, for each load."""
    if shutil.which("perf") is None:
        sys.exit("Missing perf: apt-get install -y linux-perf")
    server = Koru(work, docroot, binary) if name == "koru" else Peer(name, work, docroot)
    try:
        for load, path, conc, count in LOADS:
            if only and load not in only:
                continue
            if load in RANGES and not serves_ranges(server.port, path):
                print(f"{name:9} {load:8} (serves no ranges)")
                continue
            if not runnable(server, path):
                continue
            runs = load_runs(load, path, conc, max(conc, int(count * scale)))
            n = sum(k for _, k in runs)
            script = " && ".join(" ".join(f"'{a}'" for a in ab_command(server.port, path, conc, k, h))
                                 for h, k in runs)
            out = subprocess.run(
                ["perf", "stat", "-x", ",", "-e", "context-switches,raw_syscalls:sys_enter",
                 "-p", ",".join(server_pids(server.proc.pid)), "--", "sh", "-c", script],
                capture_output=True, text=True, timeout=600).stderr
            values = {}
            for line in out.splitlines():
                fields = line.split(",")
                if len(fields) > 2 and fields[0].replace(".", "").isdigit():
                    values[fields[2]] = float(fields[0])
            print(f"{name:9} {load:8} {values.get('context-switches', 0) / n:8.1f} switches "
                  f"{values.get('raw_syscalls:sys_enter', 0) / n:10.1f} system calls per request")
    finally:
        server.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--peers", action="store_true", help="also load the peer servers")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--scale", type=float, default=1.0, help="multiply request counts")
    parser.add_argument("--counts", action="store_true",
                        help="count system calls and context switches per request instead")
    parser.add_argument("--koru", help="the program to load (default: build/koru)")
    parser.add_argument("--same-session", action="store_true",
                        help="run the servers in the load generator's session")
    parser.add_argument("--only", nargs="+", metavar="LOAD",
                        help="run only these loads (" + ", ".join(l[0] for l in LOADS) + ")")
    args = parser.parse_args()
    global SESSIONS
    SESSIONS = not args.same_session
    if args.counts:
        peers = ["nginx", "lighttpd", "webfs"] if args.peers else []
        ensure_peers(peers)
        work = tempfile.mkdtemp(prefix="koru-bench-")
        os.chmod(work, 0o755)
        try:
            docroot = os.path.join(work, "site")
            make_docroot(docroot)
            for name in ["koru"] + peers:
                count_per_request(args.koru, work, docroot, args.scale, name, args.only)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        return
    peers = ["nginx", "lighttpd", "webfs", "python"] if args.peers else []
    ensure_peers(peers)
    work = tempfile.mkdtemp(prefix="koru-bench-")
    os.chmod(work, 0o755)  # servers that drop their privileges must still read the files
    docroot = os.path.join(work, "site")
    make_docroot(docroot)
    servers = ["koru"] + peers
    results = {(s, l[0]): [] for s in servers for l in LOADS}
    koru_status = []
    try:
        for rnd in range(args.rounds):
            order = servers[rnd % len(servers):] + servers[:rnd % len(servers)]
            for name in order:
                server = (Koru(work, docroot, args.koru) if name == "koru"
                          else Peer(name, work, docroot))
                try:
                    for load, path, conc, count in LOADS:
                        if args.only and load not in args.only:
                            continue
                        # A server that ignores ranges would send the whole file each time: it
                        # is not measured on a range load.
                        if load in RANGES and not serves_ranges(server.port, path):
                            continue
                        n = max(conc, int(count * args.scale))
                        if not runnable(server, path):
                            continue
                        before = proc_status(server.proc.pid) if name == "koru" else None
                        cpu = cpu_seconds(server.proc.pid)
                        result = run_load(server.port, load, path, conc, n)
                        result["cpu_us"] = (cpu_seconds(server.proc.pid) - cpu) * 1e6 / result["n"]
                        results[(name, load)].append(result)
                        if name == "koru":
                            time.sleep(0.5)
                            koru_status.append((load, before, proc_status(server.proc.pid)))
                finally:
                    server.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    report(servers, results, koru_status)


def report(servers, results, koru_status):
    print(f"{'load':8} {'server':9} {'req/s':>9} {'mean ms':>8} {'median':>7} {'p99 ms':>7} "
          f"{'MB/s':>8} {'failed':>6} {'CPU us/req':>10}")
    for load, *_ in LOADS:
        best = {}
        for name in servers:
            runs = results[(name, load)]
            if not runs:
                continue
            med = {k: statistics.median(r[k] for r in runs) for k in runs[0]}
            med["failed"] = sum(r["failed"] for r in runs)
            best[name] = med
            print(f"{load:8} {name:9} {med['rps']:9.0f} {med['mean_ms']:8.3f} "
                  f"{med['median_ms']:7.0f} {med['p99_ms']:7.0f} {med['mbs']:8.1f} "
                  f"{med['failed']:6d} {med['cpu_us']:10.1f}")
        peers = [n for n in servers if n != "koru" and n in best]
        if peers and "koru" in best:
            key = "mbs" if load.startswith(("10m", "range")) else "rps"
            # A server that failed requests did not serve the load: it cannot be the best peer.
            sound = [n for n in peers if best[n]["failed"] == 0] or peers
            top = max(sound, key=lambda n: best[n][key])
            ratio = best["koru"][key] / best[top][key] if best[top][key] else float("nan")
            p99 = best["koru"]["p99_ms"] / max(best[top]["p99_ms"], 1)
            cpu = best["koru"]["cpu_us"] / best[top]["cpu_us"] if best[top]["cpu_us"] else float("nan")
            print(f"{load:8} ratio KORU / {top}: {ratio:.2f} ({key}), p99 ratio {p99:.2f}, "
                  f"CPU per request ratio {cpu:.2f}")
    print("\nKORU threads / resident memory (kB) before -> after each load:")
    for load, before, after in koru_status:
        print(f"  {load:8} {before[0]:4} / {before[1]:7} -> {after[0]:4} / {after[1]:7}")


if __name__ == "__main__":
    main()
