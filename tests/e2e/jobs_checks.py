#!/usr/bin/env python3
"""Check mode in worker processes (-j): the same standard output, standard
error and status as one process, on trees with findings and trouble, in
every format; a reader that goes away; a worker that dies.

Usage: jobs_checks.py TESSEL CASE

Each case runs in a fresh temporary directory with LC_ALL=C, HOME that
directory and TESSEL_CFG unset. TESSEL_E2E_WRAPPER, if set, is a command
prefix for tessel (valgrind), and the trees are made smaller for it.
"""
import os
import resource
import shlex
import signal
import socket
import subprocess
import sys
import tempfile
import time

FAILURES = []
WRAPPER = shlex.split(os.environ.get("TESSEL_E2E_WRAPPER", ""))
CFG = (b"DEFAULT: KEEP\nCOMMENT: DROP\n<font>: WARN\n<center>: WARN\n<blink>: DROP\n"
       b"<a> { ATTRIBUTE onclick: WARN  DEFAULT: KEEP }\n")
FORMATS = ["gnu", "json", "sarif", "github"]


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print(f"FAIL: {message}")


def environment(cwd):
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "HOME": cwd}


def run(binary, args, cwd, descriptors=None, timeout=300):
    def preexec():
        if descriptors is not None:
            resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
    return subprocess.run(WRAPPER + [binary] + args, capture_output=True, cwd=cwd, env=environment(cwd),
                          timeout=timeout, preexec_fn=preexec)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def page(number):
    """A page with a few findings of each kind, or none, by its number."""
    parts = [b"<p>page %d\n" % number]
    parts += [b"<font>f</font>\n"] * (number % 4)
    parts += [b"<!-- note -->\n"] * (number % 3 == 0)
    parts += [b"<a href=x onclick=go()>a</a>\n"] * (number % 5 == 1)
    parts += [b"<blink>b</blink><center>c</center>\n"] * (number % 7 == 2)
    return b"".join(parts)


def trouble_tree(tmp, directories, per_directory):
    """Pages with findings, clean pages, one large page, and entries the
    walk cannot check: links dangling and looping, a FIFO, a socket, and
    a directory that cannot be read (when permissions apply)."""
    write(os.path.join(tmp, "lint.cfg"), CFG)
    site = os.path.join(tmp, "site")
    for d in range(directories):
        for f in range(per_directory):
            write(os.path.join(site, f"d{d}", f"p{f}.html"), page(d * per_directory + f))
    write(os.path.join(site, "d1", "large.html"), b"<font>x</font><a onclick=y>z</a>\n" * 20000)
    os.symlink("nowhere.html", os.path.join(site, "d0", "dangling.html"))
    os.symlink("loop.html", os.path.join(site, "d2", "loop.html"))
    os.mkfifo(os.path.join(site, "d3", "fifo.html"))
    sock = socket.socket(socket.AF_UNIX)
    sock.bind(os.path.join(site, "d4", "sock.html"))
    closed = os.path.join(site, "d5", "closed")
    write(os.path.join(closed, "hidden.html"), page(1))
    os.chmod(closed, 0)
    return sock, closed


def expect_same(binary, tmp, args, jobs_list, what, descriptors=None):
    """Each -j of jobs_list gives what -j 1 gives, byte for byte."""
    alone = run(binary, ["-c", "-f", "lint.cfg"] + args, tmp)
    check(alone.stdout != b"", f"{what}: -j 1 found something")
    for jobs in jobs_list:
        got = run(binary, ["-c", "-f", "lint.cfg", "-j", str(jobs)] + args, tmp, descriptors)
        label = f"{what} -j {jobs}" + (f" with {descriptors} descriptors" if descriptors else "")
        check(got.returncode == alone.returncode, f"{label}: status {got.returncode}, want {alone.returncode}")
        check(got.stdout == alone.stdout, f"{label}: standard output differs")
        check(got.stderr == alone.stderr, f"{label}: standard error differs:\n{got.stderr[-300:]!r}\nwant\n"
                                          f"{alone.stderr[-300:]!r}")
    return alone


def same_output(binary, tmp):
    """Every format, with and without -q and -r, on a tree of thousands of
    files with trouble mixed in, and named files around the tree (one that
    does not exist, one that cannot be read)."""
    small = bool(WRAPPER)
    sock, closed = trouble_tree(tmp, 6 if small else 60, 10 if small else 50)
    try:
        names = ["first.html", "site", "missing.html", "/proc/self/mem", "last.html"]
        write(os.path.join(tmp, "first.html"), page(3))
        write(os.path.join(tmp, "last.html"), page(5))
        flag_sets = [[], ["-q", "-r"]] if small else [[], ["-q"], ["-r"], ["-q", "-r"]]
        for fmt in FORMATS:
            for flags in flag_sets:
                alone = expect_same(binary, tmp, [f"--format={fmt}"] + flags + names, [2] if small else [2, 4, 0],
                                    f"--format={fmt} {' '.join(flags)}")
                check(alone.returncode == 2, f"--format={fmt}: the tree has trouble, status {alone.returncode}")
        # Too few descriptors for every worker asked for, or for any: the
        # parent checks alone.
        for descriptors in (64, 36):
            expect_same(binary, tmp, names, [8], "few descriptors", descriptors)
    finally:
        sock.close()
        os.chmod(closed, 0o755)


def real_pages(binary, tmp):
    """A few hundred pages of the HTML documentation installed with Rust,
    through a configuration that removes much of them."""
    try:
        sysroot = subprocess.run(["rustc", "--print", "sysroot"], capture_output=True, text=True,
                                 timeout=60).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        sysroot = ""
    docs = os.path.join(sysroot, "share", "doc", "rust", "html")
    trees = [os.path.join(docs, t) for t in ("book", "std/collections")]
    if not sysroot or not all(os.path.isdir(t) for t in trees):
        print("skipped: real_pages (no Rust documentation installed)")
        return 77
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "tessel.cfg")
    with open(source, "rb") as f:
        write(os.path.join(tmp, "lint.cfg"), f.read())
    for fmt in ["gnu", "sarif"]:
        expect_same(binary, tmp, ["-r", f"--format={fmt}"] + trees, [3] if WRAPPER else [0, 3], f"Rust docs {fmt}")
    return 0


def session_processes(session):
    """The processes, not yet reaped or not, of a session."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat", "rb") as f:
                    fields = f.read().rsplit(b")", 1)[1].split()
            except OSError:
                continue
            if int(fields[3]) == session:
                found.append((int(entry), fields[0].decode()))
    return found


def broken_pipe(binary, tmp):
    """A reader that stops after 100 bytes ends the run at once, workers
    and all, whether the broken pipe kills tessel or only fails its writes."""
    sock, closed = trouble_tree(tmp, 20, 50)
    try:
        for ignored in (False, True):
            def preexec():
                signal.signal(signal.SIGPIPE, signal.SIG_IGN if ignored else signal.SIG_DFL)
            command = " ".join(shlex.quote(w) for w in WRAPPER + [binary]) + " -c -r -j 4 -f lint.cfg site | head -c 100"
            started = time.monotonic()
            shell = subprocess.Popen(["sh", "-c", command], cwd=tmp, env=environment(tmp), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, start_new_session=True, preexec_fn=preexec,
                                     restore_signals=False)
            out, err = shell.communicate(timeout=120)
            what = "SIGPIPE ignored" if ignored else "SIGPIPE"
            check(len(out) == 100, f"{what}: head read {len(out)} bytes")
            if ignored:
                check(b"Unable to write findings: Broken pipe\n" in err, f"{what}: {err[-200:]!r}")
            deadline = time.monotonic() + 10
            while session_processes(shell.pid) and time.monotonic() < deadline:
                time.sleep(0.05)
            check(not session_processes(shell.pid), f"{what}: left behind: {session_processes(shell.pid)}")
            check(time.monotonic() - started < 60, f"{what}: the run did not end soon")
    finally:
        sock.close()
        os.chmod(closed, 0o755)


def children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(c) for c in f.read().split()]
    except OSError:
        return []


def holds(pid, path):
    try:
        return any(os.path.realpath(f"/proc/{pid}/fd/{fd}") == path for fd in os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return False


def lost_worker(binary, tmp):
    """A worker killed while it checks a file: that file is trouble, every
    other one is checked and written in its place."""
    write(os.path.join(tmp, "lint.cfg"), CFG)
    names = [f"p{i}.html" for i in range(12)]
    for i, name in enumerate(names):
        write(os.path.join(tmp, name), page(i * 4 + 1))
    fifo = os.path.join(tmp, "fifo.html")
    os.mkfifo(fifo)
    files = names[:3] + ["fifo.html"] + names[3:]
    tessel = subprocess.Popen(WRAPPER + [binary, "-c", "-j", "2", "-f", "lint.cfg"] + files, cwd=tmp,
                              env=environment(tmp), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # Opening the FIFO waits for the worker that opens it to read it; the
    # worker then waits for the rest, holding it open.
    writer = os.open(fifo, os.O_WRONLY)
    os.write(writer, b"<font>\n")
    deadline = time.monotonic() + 60
    reader = []
    while not reader and time.monotonic() < deadline:
        reader = [c for c in children(tessel.pid) if holds(c, os.path.realpath(fifo))]
        time.sleep(0.02)
    check(len(reader) == 1, f"one worker holds the FIFO: {reader}")
    for pid in reader:
        os.kill(pid, signal.SIGKILL)
    out, err = tessel.communicate(timeout=120)
    os.close(writer)
    alone = run(binary, ["-c", "-f", "lint.cfg"] + names, tmp)
    check(tessel.returncode == 2, f"lost worker: status {tessel.returncode}")
    check(out == alone.stdout, f"lost worker: standard output differs:\n{out!r}\nwant\n{alone.stdout!r}")
    summary = alone.stderr.split(b" could not")[0].replace(b"12 files checked", b"13 files checked")
    want_err = (b"Unable to check input file fifo.html: its worker process was ended by signal 9 (Killed)\n"
                + summary.rstrip(b"\n") + b", 1 could not be read\n")
    check(err == want_err, f"lost worker: standard error\n{err!r}\nwant\n{want_err!r}")


CASES = {f.__name__: f for f in (same_output, real_pages, broken_pipe, lost_worker)}


def main():
    binary = os.path.abspath(sys.argv[1])
    status = 0
    for name in sys.argv[2:] or list(CASES):
        with tempfile.TemporaryDirectory() as tmp:
            status = CASES[name](binary, tmp) or status
    if FAILURES:
        print(f"{len(FAILURES)} failed")
        return 1
    print("all passed")
    return status


if __name__ == "__main__":
    sys.exit(main())
