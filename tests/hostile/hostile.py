#!/usr/bin/env python3
"""Hostile-input cases for the tessel binary, generated at test time.

    hostile.py TESSEL CASE [--no-memory-check] [--sanitized]

Each case builds its input (never committed: some are 100 MB), runs tessel
as a process in a temporary directory and checks the exact output, standard
error and exit status. Peak memory is checked against the largest single
piece (text run, tag or comment), which tessel holds whole, plus a constant;
the check is skipped under sanitizers, whose allocators keep freed memory.
--sanitized skips the cases too slow for a sanitized build.
"""
import hashlib
import os
import pty
import random
import resource
import select
import signal
import subprocess
import sys
import tempfile

MB = 1024 * 1024
PASS_CFG = b"DEFAULT: KEEP\n"


class Case:
    def __init__(self, tessel, tmp, check_memory, sanitized=False):
        self.tessel, self.tmp, self.check_memory = tessel, tmp, check_memory
        self.sanitized = sanitized
        self.baseline_mb = None
        self.returncode, self.stderr = None, b""

    def path(self, name):
        return os.path.join(self.tmp, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def run(self, args, stdin_path=None, largest_piece=0, stdout_path=None):
        """Runs tessel; returns (status, stdout bytes, stderr bytes)."""
        # The peak counts from the fork, before the exec, so it is compared
        # with the peak of a run on an empty input, plus the largest piece.
        if self.check_memory and self.baseline_mb is None:
            self.baseline_mb = self.spawn(["-f", self.write("empty.cfg", b"")], None, None)
        rss_mb = self.spawn(args, stdin_path, stdout_path)
        if self.check_memory:
            limit = self.baseline_mb + 1.6 * largest_piece / MB + 8
            if rss_mb > limit:
                raise AssertionError(f"peak RSS {rss_mb:.1f} MB above {limit:.1f} MB")
        out = b""
        if stdout_path is None:
            with open(self.path("stdout"), "rb") as f:
                out = f.read()
        return self.returncode, out, self.stderr

    def env(self):
        """The environment of a run: no stray configuration is found."""
        env = {"LC_ALL": "C", "HOME": self.tmp, "PATH": os.environ.get("PATH", "")}
        for var in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if var in os.environ:
                env[var] = os.environ[var]
        return env

    def spawn(self, args, stdin_path, stdout_path):
        """Runs tessel, keeps its status and stderr; returns its peak RSS in MB."""
        out_path = stdout_path or self.path("stdout")
        with open(stdin_path or os.devnull, "rb") as fin, open(out_path, "wb") as fout:
            proc = subprocess.Popen([self.tessel] + args, stdin=fin, stdout=fout,
                                    stderr=subprocess.PIPE, cwd=self.tmp, env=self.env())
            self.stderr = proc.stderr.read()
            _, status, usage = os.wait4(proc.pid, 0)
            self.returncode = os.waitstatus_to_exitcode(status)
        return usage.ru_maxrss / 1024


def shorten(value):
    text = repr(value)
    return text if len(text) < 400 else text[:200] + " ... " + text[-200:]


def expect(actual, expected, what):
    if actual != expected:
        raise AssertionError(f"{what}: expected {shorten(expected)}, got {shorten(actual)}")


def same_file(c, path, expected_path):
    def digest(p):
        h = hashlib.sha256()
        with open(p, "rb") as f:
            for block in iter(lambda: f.read(MB), b""):
                h.update(block)
        return h.hexdigest()
    expect(digest(path).encode(), digest(expected_path).encode(), "output digest")


def big_file(c, name, chunks):
    """Writes the chunks (bytes, repeated count) to a file; returns its path."""
    with open(c.path(name), "wb") as f:
        for data, count in chunks:
            for _ in range(count):
                f.write(data)
    return c.path(name)


def case_huge_text_run(c):
    cfg = c.write("c.cfg", PASS_CFG)
    doc = big_file(c, "in.html", [(b"word and more words\n" * 52429, 100)])  # ~100 MB, one run
    status, out, err = c.run(["-f", cfg, doc], largest_piece=os.path.getsize(doc),
                             stdout_path=c.path("out"))
    expect((status, err), (0, b""), "status and stderr")
    same_file(c, c.path("out"), doc)


def case_huge_tag(c):
    cfg = c.write("c.cfg", b"<a> { ATTRIBUTE title: KEEP DEFAULT: DROP }\n")
    doc = big_file(c, "in.html", [(b"<a title='", 1), (b"x" * MB, 10), (b"' onclick=y>z</a>", 1)])
    status, out, err = c.run(["-f", cfg, doc], largest_piece=10 * MB)
    expect((status, err), (0, b""), "status and stderr")
    expect(out, b"<a title='" + b"x" * (10 * MB) + b"'>z</a>", "output")


def case_many_less_than(c):
    cfg = c.write("c.cfg", PASS_CFG)
    doc = c.write("in.html", b"<" * 100000)
    status, out, err = c.run(["-f", cfg, doc])
    expect((status, out, err), (0, b"<" * 100000, b""), "result")


def case_deeply_nested_drops(c):
    cfg = c.write("c.cfg", b"<div>: DROP ALL\n")
    depth = 100000
    doc = c.write("in.html", b"<div>" * depth + b"x" + b"</div>" * depth + b"after")
    status, out, err = c.run(["-f", cfg, doc])
    expect((status, out, err), (0, b"after", b""), "result")


def case_deep_nests_in_flat_memory(c):
    # A nest of one element dropped whole, and SVG nested in SVG, take no
    # more memory than one of them: 2 million levels would take tens of
    # megabytes at a few bytes each.
    cfg = c.write("c.cfg", b"MODE: SAFE\nDEFAULT: KEEP\n<div>: DROP ALL\n")
    depth = 2000000
    doc = c.write("in.html", b"<div>" * depth + b"x" + b"</div>" * depth + b"a" +
                  b"<svg>" * depth + b"y" + b"</svg>" * depth + b"b")
    status, out, err = c.run(["-f", cfg, doc])
    expect((status, out, err), (0, b"ab", b""), "result")


def case_check_many_files_in_flat_memory(c):
    # Check mode over thousands of files, each leaving regions open and
    # findings behind: no file stays open (a leak would run out of file
    # descriptors) and memory is that of one document, not of all of them.
    cfg = c.write("c.cfg", b"DEFAULT: KEEP\n<font>: WARN\n<div>: DROP ALL\n<b>: DROP\n")
    # With room for 64 descriptors, a file left open per page shows at once.
    wrapper = c.write("few-descriptors.sh", b'#!/bin/sh\nulimit -n 64 && exec "$0.bin" "$@"\n')
    os.chmod(wrapper, 0o755)
    os.symlink(c.tessel, wrapper + ".bin")
    c.tessel = wrapper
    count = 2000
    page = b"<font>x</font>" + b"<b>y</b>" * 200 + b"<div>" * 2000 + b"z" * 20000
    names = [c.write(f"p{i}.html", page) for i in range(count)]
    status, out, err = c.run(["-c", "-r", "-f", cfg] + names)
    lines = out.split(b"\n")
    expect((status, len(lines)), (1, count * 403 + 1), "status and number of findings")
    expect(err, b"%d files checked, %d findings in %d files\n" % (count, count * 403, count), "summary")


def case_lines_past_32_bits(c):
    # More than 2^32 line feeds, streamed through a pipe: lines past that
    # are reported as they are, not wrapped to 0, 1, ... (0 would read as
    # "the end of the input" for a region's end, and as "none" for an
    # unterminated tag, which was then not reported at all). About 30
    # seconds in a release build.
    if c.sanitized:
        print("skipped: 8 GB through a sanitized build takes well over ten minutes")
        return
    rules = b"DEFAULT: KEEP\n<b>: WARN\n<div>: DROP ALL\n"
    block = b"\n" * MB + b"<p>"  # text runs of a megabyte: tessel holds one run whole
    tail = b"\n" * (MB - 1) + b"<b></div>\n<b><i"  # 2^32 - 1 line feeds before the <b>
    warnings = (b"Warning: <B> tag on line 4294967296\n"
                b"line 1: <DIV> region removed up to line 4294967296\n"
                b"Warning: <B> tag on line 4294967297\n")
    unterminated = b"line 4294967297: unterminated tag removed at the end of the input\n"
    for mode, cfg_text, out, err in (
            ("classic", rules, b"\n<b><i", warnings),  # classic mode writes the unterminated tag back
            ("safe", b"MODE: SAFE\n" + rules, b"\n<b></b>", warnings + unterminated)):
        cfg = c.write("c.cfg", cfg_text)
        with open(c.path("stdout"), "wb") as fout:
            proc = subprocess.Popen([c.tessel, "-r", "-f", cfg], stdin=subprocess.PIPE, stdout=fout,
                                    stderr=subprocess.PIPE, cwd=c.tmp, env=c.env())
            proc.stdin.write(b"<div>")
            for _ in range(4095):
                proc.stdin.write(block)
            proc.stdin.write(tail)
            proc.stdin.close()
            got_err = proc.stderr.read()
            status = proc.wait()
        with open(c.path("stdout"), "rb") as f:
            got_out = f.read()
        expect((status, got_out, got_err), (0, out, err), mode + " mode")


def case_many_attributes(c):
    cfg = c.write("c.cfg", b"<a> { ATTRIBUTE x7: KEEP ATTRIBUTE x99999: WARN DEFAULT: DROP }\n")
    attrs = b"".join(b" x%d=v" % i for i in range(100000))
    doc = c.write("in.html", b"<a" + attrs + b">t</a>")
    status, out, err = c.run(["-f", cfg, doc])
    expect((status, out, err), (0, b"<a x7=v x99999=v>t</a>", b"line 1: A tag with attribute X99999\n"),
           "result")


def case_endless_comment(c):
    cfg = c.write("c.cfg", b"COMMENT: DROP\n")
    doc = big_file(c, "in.html", [(b"text<!-- ", 1), (b" > <b> a" * 1000, 1000)])
    status, out, err = c.run(["-f", cfg, doc], largest_piece=os.path.getsize(doc),
                             stdout_path=c.path("out"))
    expect((status, err), (0, b""), "status and stderr")
    same_file(c, c.path("out"), doc)


def case_only_nul_bytes(c):
    cfg = c.write("c.cfg", PASS_CFG)
    doc = c.write("in.html", b"\0" * MB)
    status, out, err = c.run(["-f", cfg, doc])
    expect((status, out, err), (0, b"", b""), "result")


def case_random_binary(c):
    cfg = c.write("c.cfg", b"DEFAULT: KEEP\n<script>: DROP ALL\n<a> { ATTRIBUTE href: KEEP DEFAULT: DROP }\n")
    rng = random.Random(7)
    doc = c.write("in.html", rng.randbytes(4 * MB))
    status, out, err = c.run(["-f", cfg, doc])
    expect(status, 0, "status")
    if len(out) > 4 * MB:
        raise AssertionError("output longer than input")


def case_ten_thousand_statements(c):
    lines = [b"DEFAULT: WARN\n"]
    for i in range(10000):
        lines.append(b"<t%d>: %s\n" % (i, [b"KEEP", b"DROP", b"DROP ALL"][i % 3]))
    cfg = c.write("c.cfg", b"".join(lines))
    doc = c.write("in.html", b"<t0>a<t1>b<t2>c</t2>d<t9999>e</t9999><t10000>")
    status, out, err = c.run(["-f", cfg, doc])
    expect((status, out, err), (0, b"<t0>abd<t9999>e</t9999><t10000>", b"Warning: <T10000> tag on line 1\n"), "result")


def case_one_word_configuration(c):
    cfg = c.write("c.cfg", b"w" * (10 * MB))
    status, out, err = c.run(["-f", cfg])
    expect((status, out, err), (1, b"", b"Error in configuration file: Excessively long word encountered\n"
                                       b"Unable to interpret configuration file\n"
                                       + cfg.encode() + b":1: found a word of more than 127 characters, "
                                       b"expected '<', DEFAULT, COMMENT or MODE\n"), "result")


def case_unreadable_files(c):
    if os.geteuid() == 0:
        print("skipped: permissions do not apply to root")
        return
    cfg = c.write("c.cfg", PASS_CFG)
    doc = c.write("in.html", b"<p>x")
    os.chmod(cfg, 0)
    os.chmod(doc, 0)
    expect(c.run(["-f", cfg]), (1, b"", b"Unable to open configuration file %s\n" % cfg.encode()), "config")
    os.chmod(cfg, 0o644)
    expect(c.run(["-f", cfg, doc]), (1, b"", b"Unable to open input file %s\n" % doc.encode()), "input")


def case_closed_pipe(c):
    cfg = c.write("c.cfg", PASS_CFG)
    doc = big_file(c, "in.html", [(b"<p>text</p>\n" * 1000, 1000)])

    def run_into_closed_pipe(ignore_sigpipe):
        read_end, write_end = os.pipe()
        os.close(read_end)
        def child_setup():
            signal.signal(signal.SIGPIPE, signal.SIG_IGN if ignore_sigpipe else signal.SIG_DFL)
        proc = subprocess.Popen([c.tessel, "-f", cfg, doc], stdout=write_end, stderr=subprocess.PIPE,
                                cwd=c.tmp, preexec_fn=child_setup)
        os.close(write_end)
        err = proc.stderr.read()
        return proc.wait(), err

    # As every filter, killed by SIGPIPE by default; with SIGPIPE ignored, a
    # failure with a message and status 1.
    expect(run_into_closed_pipe(False), (-signal.SIGPIPE, b""), "default SIGPIPE")
    expect(run_into_closed_pipe(True), (1, b"Unable to write HTML: Broken pipe\n"), "SIGPIPE ignored")


def case_warnings_past_a_failed_write(c):
    # Far more warnings than standard error buffers at once, then a write
    # failure: every warning arrives, in order, before the failure's message.
    cfg = c.write("c.cfg", b"DEFAULT: WARN\n")
    doc = c.write("in.html", b"".join(b"<b%d>\n" % i for i in range(1, 3001)))
    warnings = b"".join(b"Warning: <B%d> tag on line %d\n" % (i, i) for i in range(1, 3001))
    status, _, err = c.run(["-f", cfg, doc], stdout_path="/dev/full")
    expect((status, err), (1, warnings + b"Unable to write HTML: No space left on device\n"), "result")


def case_warnings_while_input_waits(c):
    # A writer that pauses: the warnings of what tessel has read arrive while
    # it waits for more, though standard error is not a terminal.
    cfg = c.write("c.cfg", b"DEFAULT: WARN\n")
    proc = subprocess.Popen([c.tessel, "-f", cfg], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, cwd=c.tmp)
    try:
        proc.stdin.write(b"<b>\n<i>\n")
        proc.stdin.flush()
        expected = b"Warning: <B> tag on line 1\nWarning: <I> tag on line 2\n"
        got = b""
        while len(got) < len(expected):
            ready, _, _ = select.select([proc.stderr], [], [], 10)
            chunk = os.read(proc.stderr.fileno(), 4096) if ready else b""
            if not chunk:
                break
            got += chunk
        expect(got, expected, "warnings before the end of input")
    finally:
        proc.stdin.close()
        proc.stderr.close()
        proc.wait()
    expect(proc.returncode, 0, "status")


def case_output_to_a_terminal(c):
    # Standard output on a terminal keeps its line buffering: a filtered
    # line shows while tessel waits for the rest of the input.
    cfg = c.write("c.cfg", PASS_CFG)
    leader, follower = pty.openpty()
    proc = subprocess.Popen([c.tessel, "-f", cfg], stdin=subprocess.PIPE, stdout=follower,
                            stderr=subprocess.DEVNULL, cwd=c.tmp)
    os.close(follower)
    try:
        proc.stdin.write(b"hello\n<b>world")
        proc.stdin.flush()
        got = b""
        while b"hello" not in got:
            ready, _, _ = select.select([leader], [], [], 10)
            chunk = os.read(leader, 4096) if ready else b""
            if not chunk:
                break
            got += chunk
        expect(got.replace(b"\r\n", b"\n"), b"hello\n", "the first line before the end of input")
    finally:
        proc.stdin.close()
        proc.wait()
        os.close(leader)
    expect(proc.returncode, 0, "status")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    tessel, name = os.path.abspath(sys.argv[1]), sys.argv[2]
    check_memory = "--no-memory-check" not in sys.argv
    sanitized = "--sanitized" in sys.argv
    if name == "list":
        print("\n".join(CASES))
        return 0
    with tempfile.TemporaryDirectory(prefix="tessel-hostile-") as tmp:
        try:
            CASES[name](Case(tessel, tmp, check_memory, sanitized))
        except AssertionError as e:
            print(f"FAIL {name}: {e}")
            return 1
    print(f"ok {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
