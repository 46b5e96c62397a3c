"""Starts the project's programs as processes for end-to-end tests and always stops them.

Readiness is awaited by reading the programs' own output (a "ready" line with the port they
bound), never by sleeping blindly.
"""
import json
import os
import queue
import re
import signal
import socket
import subprocess
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("KYV_BUILD_DIR", os.path.join(REPO, "build"))
BIN = os.path.join(BUILD, "bin")


def binary(name):
    return os.path.join(BIN, name)


class Proc:
    """A child process whose stdout and stderr lines are collected as they arrive."""

    def __init__(self, args, cwd=None, env=None):
        self.args = args
        self.lines = queue.Queue()
        self.out = []
        self.err = []
        self.p = subprocess.Popen(args, cwd=cwd, env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, bufsize=1)
        self._readers = [
            threading.Thread(target=self._read, args=(self.p.stdout, self.out), daemon=True),
            threading.Thread(target=self._read, args=(self.p.stderr, self.err), daemon=True),
        ]
        for t in self._readers:
            t.start()

    def _read(self, stream, sink):
        for line in stream:
            sink.append(line)
            self.lines.put(line)
        self.lines.put(None)

    def wait_for(self, pattern, timeout=20.0):
        """Returns the match of the first line (seen so far or later) matching `pattern`."""
        rx = re.compile(pattern)
        for line in list(self.out) + list(self.err):
            m = rx.search(line)
            if m:
                return m
        deadline = time.monotonic() + timeout
        eofs = 0
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
            if line is None:
                eofs += 1
                if eofs == 2:
                    break
                continue
            m = rx.search(line)
            if m:
                return m
        raise AssertionError(f"{os.path.basename(self.args[0])}: no line matching {pattern!r} "
                             f"within {timeout}s; stderr tail:\n{''.join(self.err[-20:])}")

    def wait_for_count(self, pattern, n, timeout=20.0):
        """Waits until `n` lines in all have matched `pattern`."""
        deadline = time.monotonic() + timeout
        while self.count(pattern) < n:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"{os.path.basename(self.args[0])}: {self.count(pattern)} of "
                                     f"{n} lines matching {pattern!r} within {timeout}s")
            try:
                self.lines.get(timeout=remaining)
            except queue.Empty:
                pass

    def count(self, pattern):
        rx = re.compile(pattern)
        return sum(1 for line in self.out + self.err if rx.search(line))

    def stop(self, sig=signal.SIGTERM, timeout=10.0):
        """Signals the process and returns its exit status (kills it if it does not exit)."""
        if self.p.poll() is None:
            self.p.send_signal(sig)
            try:
                self.p.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait()
        for t in self._readers:
            t.join(timeout=2)
        return self.p.returncode


class RefusingPort:
    """A loopback port that is bound but not listening: every connection is refused."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]

    def close(self):
        self.sock.close()


class Processes:
    """Owns every process a test starts; stop_all() runs whatever happens."""

    def __init__(self, tmp_path):
        self.tmp = tmp_path
        self.procs = []

    def start(self, args, **kw):
        proc = Proc(args, **kw)
        self.procs.append(proc)
        return proc

    def hearthd(self, vcmgr_port, *extra, datastore=None):
        db = datastore or f"sqlite:{self.tmp}/hearthd.db"
        proc = self.start([binary("hearthd"), f"--datastore={db}", "--admin_port=0",
                           f"--vcmgr_port={vcmgr_port}", f"--event_log_file={self.tmp}/events.log",
                           *extra], cwd=str(self.tmp))
        proc.admin_port = int(proc.wait_for(r"hearthd ready admin_port=(\d+)").group(1))
        return proc

    def vcmgr_sim(self, *extra, port=0):
        proc = self.start([binary("vcmgr-sim"), f"--port={port}", *extra], cwd=str(self.tmp))
        proc.port = int(proc.wait_for(r"vcmgr-sim ready port=(\d+)").group(1))
        return proc

    def stop_all(self):
        for proc in reversed(self.procs):
            proc.stop()


def cli(admin_port, *args, check=True):
    """Runs corvel-cli against a host; returns its stdout (parsed when --json is given)."""
    res = subprocess.run([binary("corvel-cli"), f"--admin_port={admin_port}", *args],
                         capture_output=True, text=True, timeout=60)
    if check and res.returncode != 0:
        raise AssertionError(f"corvel-cli {' '.join(args)} failed: {res.stderr}")
    if "--json" in args and res.returncode == 0:
        return json.loads(res.stdout)
    return res
