#!/usr/bin/env python3
"""tessel on a terminal and in pipes, as people run it.

    streams.py TESSEL SOURCE-DIR CASE

Terminals are pseudo-terminals (Python's pty module) in raw mode, so that
what tessel writes arrives byte for byte; each output is compared with the
same run's output to a regular file.
"""
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import tty

PASS_CFG = b"DEFAULT: KEEP\n"
TIMEOUT = 60


class Fail(Exception):
    pass


def expect(actual, expected, what):
    if actual != expected:
        def short(v):
            t = repr(v)
            return t if len(t) < 300 else t[:150] + " ... " + t[-150:]
        raise Fail(f"{what}: expected {short(expected)}, got {short(actual)}")


class Run:
    def __init__(self, tessel, src, tmp):
        self.tessel, self.src, self.tmp = tessel, src, tmp

    def path(self, name):
        return os.path.join(self.tmp, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def env(self):
        env = {"LC_ALL": "C", "HOME": self.tmp, "PATH": os.environ.get("PATH", "")}
        for var in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if var in os.environ:
                env[var] = os.environ[var]
        return env

    def to_file(self, args, stdin=b""):
        """The output of a run to a regular file, and its status."""
        out = self.path("expected.out")
        with open(out, "wb") as f:
            proc = subprocess.run([self.tessel] + args, input=stdin, stdout=f, stderr=subprocess.PIPE,
                                  cwd=self.tmp, env=self.env(), timeout=TIMEOUT)
        with open(out, "rb") as f:
            return f.read(), proc.returncode

    def on_terminal(self, args, stdin=b""):
        """The output of a run to a terminal, its standard error and status."""
        leader, follower = pty.openpty()
        tty.setraw(follower)
        proc = subprocess.Popen([self.tessel] + args, stdin=subprocess.PIPE, stdout=follower,
                                stderr=subprocess.PIPE, cwd=self.tmp, env=self.env())
        os.close(follower)
        proc.stdin.write(stdin)
        proc.stdin.close()
        got = read_until_closed(leader)
        err = proc.stderr.read()
        status = proc.wait(TIMEOUT)
        os.close(leader)
        return got, err, status


def read_until_closed(descriptor):
    got = b""
    while True:
        ready, _, _ = select.select([descriptor], [], [], TIMEOUT)
        if not ready:
            raise Fail("no output for a minute")
        try:
            chunk = os.read(descriptor, 65536)
        except OSError:  # the terminal's other side is gone
            break
        if not chunk:
            break
        got += chunk
    return got


def read_until(descriptor, wanted):
    got = b""
    while wanted not in got:
        ready, _, _ = select.select([descriptor], [], [], TIMEOUT)
        if not ready:
            raise Fail(f"waited a minute for {wanted!r}, got {got!r}")
        chunk = os.read(descriptor, 65536)
        if not chunk:
            break
        got += chunk
    return got


def same_as_to_a_file(r, args, stdin=b""):
    expected, expected_status = r.to_file(args, stdin)
    got, err, status = r.on_terminal(args, stdin)
    expect(err, b"", "standard error")
    expect(status, expected_status, "status")
    expect(got, expected, "output on the terminal")


def case_long_line(r):
    cfg = r.write("c.cfg", PASS_CFG)
    page = b"<b>" + b"x" * 5000 + b"</b>\n"
    same_as_to_a_file(r, ["-f", cfg], page)
    got, _, _ = r.on_terminal(["-f", cfg], page)
    expect(got, page, "pass-through")


def case_short_lines(r):
    cfg = r.write("c.cfg", PASS_CFG)
    page = b"".join(b"<p class=l%d>line %d</p>\n" % (i, i) for i in range(300))
    same_as_to_a_file(r, ["-f", cfg], page)


def case_long_run(r):
    cfg = r.write("c.cfg", PASS_CFG)
    page = b"<pre>" + b"y" * 70000 + b"</pre>\n" + b"<i>after</i>\n"
    same_as_to_a_file(r, ["-f", cfg], page)


def case_page_through_a_policy(r):
    # Every kind of write the policy makes (edited tags, references, end
    # tags written a part at a time), in classic and safe mode.
    page = open(os.path.join(r.src, "examples", "page.html"), "rb").read() * 40
    for cfg in ("tessel.cfg", "lint.cfg", "strip-scripts.cfg"):
        args = ["-f", os.path.join(r.src, "examples", cfg)]
        expected, status = r.to_file(args, page)
        got, _, got_status = r.on_terminal(args, page)
        expect((got_status, got), (status, expected), cfg)


def case_output_before_the_input_ends(r):
    # Each line shows on the terminal while tessel waits for the rest.
    cfg = r.write("c.cfg", PASS_CFG)
    leader, follower = pty.openpty()
    tty.setraw(follower)
    proc = subprocess.Popen([r.tessel, "-f", cfg], stdin=subprocess.PIPE, stdout=follower,
                            stderr=subprocess.DEVNULL, cwd=r.tmp, env=r.env())
    os.close(follower)
    try:
        proc.stdin.write(b"hello\n<b>world")
        proc.stdin.flush()
        expect(read_until(leader, b"hello\n"), b"hello\n", "the first line before the end of input")
        # A piece is written once it ends (the text at "<i>"), and shows
        # with the line end it holds.
        proc.stdin.write(b"</b>\n" + b"z" * 3000 + b"<i>x</i>last")
        proc.stdin.flush()
        expected = b"<b>world</b>\n" + b"z" * 3000
        expect(read_until(leader, expected), expected, "the next line before the end of input")
        proc.stdin.close()
        expect(read_until_closed(leader), b"<i>x</i>last", "the rest at the end")
    finally:
        if not proc.stdin.closed:
            proc.stdin.close()
        proc.wait(TIMEOUT)
        os.close(leader)
    expect(proc.returncode, 0, "status")


def case_input_from_a_terminal(r):
    # Typed lines are read as they come, and end of file (^D) ends them.
    cfg = r.write("c.cfg", b"<b>: DROP\n")
    leader, follower = pty.openpty()
    proc = subprocess.Popen([r.tessel, "-f", cfg], stdin=follower, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, cwd=r.tmp, env=r.env())
    os.close(follower)
    try:
        os.write(leader, b"<b>bold</b> one\n")
        ready, _, _ = select.select([proc.stdout], [], [], 0.5)
        expect(os.read(proc.stdout.fileno(), 4096) if ready else b"", b"", "nothing before the input ends")
        os.write(leader, b"two\n\x04")
        out, err = proc.communicate(timeout=TIMEOUT)
    finally:
        os.close(leader)
    expect((proc.returncode, out, err), (0, b"bold one\ntwo\n", b""), "result")


def case_warnings_whole_when_the_reader_quits(r):
    # The reader of the output goes away early and tessel dies of SIGPIPE:
    # every warning it issued is on standard error whole, in order.
    cfg = r.write("c.cfg", b"<b>: WARN\n<i>: DROP\n")
    page = r.write("in.html", b"<b>x</b><i>y</i>\n" * 20000)
    all_warnings = b"".join(b"Warning: <B> tag on line %d\nWarning: </B> tag on line %d\n" % (n, n)
                            for n in range(1, 20001))
    for _ in range(3):
        read_end, write_end = os.pipe()
        # Standard error to a file: a pipe nobody reads yet would fill and
        # hold tessel before it writes any output.
        with open(r.path("err"), "wb") as err_file:
            proc = subprocess.Popen([r.tessel, "-f", cfg, page], stdout=write_end, stderr=err_file,
                                    cwd=r.tmp, env=r.env(),
                                    preexec_fn=lambda: signal.signal(signal.SIGPIPE, signal.SIG_DFL))
        os.close(write_end)
        os.read(read_end, 100)
        os.close(read_end)
        status = proc.wait(TIMEOUT)
        with open(r.path("err"), "rb") as f:
            err = f.read()
        expect(status, -signal.SIGPIPE, "status")
        if not err.endswith(b"\n") or not all_warnings.startswith(err):
            raise Fail(f"standard error is not whole warnings, in order: ...{err[-120:]!r}")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    tessel, src, name = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
    if name == "list":
        print("\n".join(CASES))
        return 0
    with tempfile.TemporaryDirectory(prefix="tessel-streams-") as tmp:
        try:
            CASES[name](Run(tessel, src, tmp))
        except Fail as e:
            print(f"FAIL {name}: {e}")
            return 1
    print(f"ok {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
