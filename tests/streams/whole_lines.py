#!/usr/bin/env python3
"""What tessel writes as lines, and every failure to write them, as people
run it: processes side by side on one pipe, a full or closed standard
error, readers that are slow or do not block, signals, and an output that
is the input.

    whole_lines.py TESSEL SOURCE-DIR CASE
"""
import fcntl
import json
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import time

from streams import TIMEOUT, Fail, expect
from streams import Run as StreamsRun


class Run(StreamsRun):
    def shell(self, command, **kwargs):
        """A shell command line with $T as tessel, in the temporary directory."""
        env = self.env()
        env["T"] = self.tessel
        return subprocess.run(["bash", "-c", command], cwd=self.tmp, env=env, capture_output=True,
                              timeout=TIMEOUT, **kwargs)


WARN_CFG = b"<font>: WARN\n<center>: WARN\n<a> { ATTRIBUTE onclick: WARN  DEFAULT: KEEP }\n"
# Findings of several lengths, so that the ends of blocks fall everywhere.
FINDING_LINE = re.compile(rb"\./[a-z0-9/_ -]+\.html:\d+:\d+: warning: (<FONT> tag|</FONT> tag|<CENTER> tag|"
                          rb"</CENTER> tag|A tag with attribute ONCLICK) \[(tag|attribute)-warned\]")


def make_site(r, pages=120, lines=150):
    os.makedirs(r.path("site"), exist_ok=True)
    for i in range(pages):
        body = b"".join(b"<font color=red>t</font><a onclick=x>%s</a><center>c</center>\n" % (b"w" * (i * 7 % 60))
                        for _ in range(lines))
        # Names of many lengths, too.
        r.write(os.path.join("site", "page%d%s.html" % (i, "_" * (i % 40))), body)
    return pages * lines * 5


def case_side_by_side_on_one_pipe(r):
    # The README's recipe: xargs -P puts processes side by side on one
    # pipe; every line that comes out is one whole finding, and every JSON
    # line loads. Error messages on the same pipe (2>&1) stay whole too.
    r.write("lint.cfg", WARN_CFG)
    total = make_site(r)
    recipe = ("{ find ./site -name '*.html'; for i in $(seq 0 10 110); do echo ./site/missing$i.html; done; } "
              "| sort | tr '\\n' '\\0' | xargs -0 -n 3 -P 4 \"$T\" -c -q JSON -f lint.cfg 2>&1")
    result = r.shell(recipe.replace("JSON", ""))
    lines = result.stdout.split(b"\n")
    expect(lines[-1], b"", "the output ends with a line end")
    findings = errors = 0
    for line in lines[:-1]:
        if FINDING_LINE.fullmatch(line):
            findings += 1
        elif re.fullmatch(rb"Unable to open input file \./site/missing\d+\.html: No such file or directory", line):
            errors += 1
        else:
            raise Fail(f"a line that is neither a finding nor a message: {line[:200]!r}")
    expect((findings, errors), (total, 12), "findings and messages")

    result = r.shell(recipe.replace("JSON", "--json"))
    kinds = {"warning": 0, "error": 0}
    for line in result.stdout.split(b"\n")[:-1]:
        if line.startswith(b"Unable to open input file"):
            continue  # the same message on standard error
        try:
            kinds[json.loads(line)["kind"]] += 1
        except (ValueError, KeyError) as error:
            raise Fail(f"a JSON line that does not load ({error}): {line[:200]!r}")
    expect(kinds, {"warning": total, "error": 12}, "JSON findings and errors")


def case_standard_error_that_fails(r):
    # Warnings that cannot be written make the run fail, in each mode, and
    # under -o leave the output file as it was.
    r.write("warn.cfg", b"<b>: WARN\n")
    r.write("b.html", b"<b>x</b>\n" * 2000)
    for redirect in ("2>/dev/full", "2>&-"):
        result = r.shell(f'"$T" -f warn.cfg b.html {redirect}')
        expect(result.returncode, 1, f"status with {redirect}")
        expect(result.stdout, b"<b>x</b>\n" * 2000, f"the document with {redirect}")
        result = r.shell(f'"$T" -c -f warn.cfg b.html {redirect}')
        expect(result.returncode, 2, f"check mode's status with {redirect}")
        r.write("post.html", b"old\n")
        result = r.shell(f'"$T" -f warn.cfg -o post.html b.html {redirect}')
        expect(result.returncode, 1, f"status of -o with {redirect}")
        expect(open(r.path("post.html"), "rb").read(), b"old\n", f"-o's file with {redirect}")
        expect(sorted(os.listdir(r.tmp)), ["b.html", "post.html", "warn.cfg"], "no temporary file left")
    # A clean run with standard error gone still succeeds: nothing was lost.
    result = r.shell('"$T" -f warn.cfg /dev/null 2>/dev/full')
    expect(result.returncode, 0, "a run with nothing to say")


def set_nonblocking(fd):
    fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) | os.O_NONBLOCK)


def read_slowly(fds):
    """Reads each descriptor to its end, a little at a time."""
    got = {fd: b"" for fd in fds}
    open_fds = list(fds)
    while open_fds:
        ready, _, _ = select.select(open_fds, [], [], TIMEOUT)
        if not ready:
            raise Fail("no output for two minutes")
        for fd in ready:
            chunk = os.read(fd, 1024)
            if chunk:
                got[fd] += chunk
            else:
                open_fds.remove(fd)
        time.sleep(0.0005)
    return got


def case_slow_readers_that_do_not_block(r):
    # A descriptor opened without blocking, on a pipe whose reader is slow:
    # tessel waits for the reader instead of failing with EAGAIN.
    r.write("warn.cfg", b"<b>: WARN\n")
    page = b"<b>x</b> text\n" * 30000
    expected_err = b"".join(b"Warning: <B> tag on line %d\nWarning: </B> tag on line %d\n" % (n, n)
                            for n in range(1, 30001))
    out_read, out_write = os.pipe()
    err_read, err_write = os.pipe()
    set_nonblocking(out_write)
    set_nonblocking(err_write)
    r.write("page.html", page)
    proc = subprocess.Popen([r.tessel, "-f", "warn.cfg", "page.html"], stdout=out_write, stderr=err_write,
                            cwd=r.tmp, env=r.env())
    os.close(out_write)
    os.close(err_write)
    got = read_slowly([out_read, err_read])
    status = proc.wait(TIMEOUT)
    os.close(out_read)
    os.close(err_read)
    expect(status, 0, "status")
    expect(got[out_read], page, "the document")
    expect(got[err_read], expected_err, "the warnings")


def case_signals_write_whole_lines(r):
    # Ended by TERM, INT or HUP, tessel writes the whole lines it holds
    # and no part of one: standard error ends at a line end.
    r.write("warn.cfg", b"<b>: WARN\n<i> { ATTRIBUTE x: WARN }\n")
    r.write("big.html", b"<b>x</b><i x=1 y=2>text text text</i>\n" * 3000000)
    for sig, delay in ((signal.SIGTERM, 0.3), (signal.SIGINT, 0.5), (signal.SIGHUP, 0.2)):
        with open(r.path("err"), "wb") as err:
            proc = subprocess.Popen([r.tessel, "-f", "warn.cfg", "big.html"], stdout=subprocess.DEVNULL,
                                    stderr=err, cwd=r.tmp, env=r.env())
            time.sleep(delay)
            proc.send_signal(sig)
            status = proc.wait(TIMEOUT)
        data = open(r.path("err"), "rb").read()
        if status == 0:
            raise Fail(f"the run ended before {sig.name}; make big.html bigger")
        expect(status, -sig, f"status after {sig.name}")
        if not data:
            raise Fail(f"nothing written before {sig.name}")
        expect(data[-1:], b"\n", f"standard error ends at a line end after {sig.name}")
        for line in data.split(b"\n")[:-1]:
            if not re.fullmatch(rb"Warning: </?B> tag on line \d+|line \d+: I tag with attribute X", line):
                raise Fail(f"a torn line after {sig.name}: {line!r}")


def case_check_mode_hands_on_each_file(r):
    # The findings of a file go out when it is done, while a later file
    # keeps tessel waiting (a FIFO); ended then by TERM, they are all there.
    r.write("lint.cfg", WARN_CFG)
    r.write("a.html", b"<font>x</font>\n" * 500)
    os.mkfifo(r.path("fifo.html"))
    for fmt in ([], ["--json"]):
        out_read, out_write = os.pipe()
        proc = subprocess.Popen([r.tessel, "-c"] + fmt + ["-f", "lint.cfg", "a.html", "fifo.html"],
                                stdout=out_write, stderr=subprocess.DEVNULL, cwd=r.tmp, env=r.env())
        os.close(out_write)
        got = b""
        while got.count(b"\n") < 1000:
            ready, _, _ = select.select([out_read], [], [], TIMEOUT)
            if not ready:
                raise Fail("a.html's findings held back while the FIFO waits (%d lines)" % got.count(b"\n"))
            got += os.read(out_read, 65536)
        proc.send_signal(signal.SIGTERM)
        status = proc.wait(TIMEOUT)
        got += os.read(out_read, 65536)
        os.close(out_read)
        expect(status, -signal.SIGTERM, "status")
        expect(got.count(b"\n"), 1000, "every finding of a.html " + " ".join(fmt))
        if fmt:
            for line in got.split(b"\n")[:-1]:
                json.loads(line)


def case_input_that_is_the_output(r):
    # Reading the file the output is appended to would never end.
    r.write("keep.cfg", b"DEFAULT: KEEP\n")
    r.write("f.html", b"<p>page</p>\n" * 100)
    for command in ('"$T" -f keep.cfg f.html >> f.html', '"$T" -f keep.cfg < f.html >> f.html'):
        result = r.shell(command)
        expect(result.returncode, 1, f"status of {command}")
        name = b"f.html" if b"< f" not in command.encode() else b"(standard input)"
        expect(result.stderr, b"Input file %s is the output file\n" % name, f"message of {command}")
        expect(open(r.path("f.html"), "rb").read(), b"<p>page</p>\n" * 100, "the file unchanged")
    # Filtering a file in place through -o is what -o is for.
    result = r.shell('"$T" -f keep.cfg -o f.html f.html')
    expect((result.returncode, open(r.path("f.html"), "rb").read()), (0, b"<p>page</p>\n" * 100), "-o in place")


def case_file_names_with_control_bytes(r):
    # A file name can hold any byte but '/' and NUL: in check mode's text
    # findings its control bytes are escaped as a tag's are, so that a
    # name cannot move the terminal's cursor or end a line. JSON has its own
    # escapes.
    r.write("lint.cfg", b"<font>: WARN\n")
    name = b"a\x1b[2Jb\nc\x07.html"
    with open(os.path.join(r.tmp.encode(), name), "wb") as f:
        f.write(b"<font>\n")
    result = subprocess.run([r.tessel, "-c", "-q", "-f", "lint.cfg", os.fsdecode(name)], capture_output=True,
                            cwd=r.tmp, env=r.env(), timeout=TIMEOUT)
    expect((result.returncode, result.stdout), (1, b"a\\x1B[2Jb\\x0Ac\\x07.html:1:1: warning: <FONT> tag [tag-warned]\n"),
           "text finding")
    result = subprocess.run([r.tessel, "-c", "-q", "--json", "-f", "lint.cfg", os.fsdecode(name)],
                            capture_output=True, cwd=r.tmp, env=r.env(), timeout=TIMEOUT)
    expect(json.loads(result.stdout)["file"], os.fsdecode(name), "JSON file name")
    # Nor in the message that names a file that cannot be read.
    result = subprocess.run([r.tessel, "-c", "-q", "-f", "lint.cfg", "gone\x1b[2J.html"], capture_output=True,
                            cwd=r.tmp, env=r.env(), timeout=TIMEOUT)
    expect((result.returncode, result.stderr),
           (2, b"Unable to open input file gone\\x1B[2J.html: No such file or directory\n"), "message")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    tessel, src, name = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
    if name == "list":
        print("\n".join(CASES))
        return 0
    with tempfile.TemporaryDirectory(prefix="tessel-lines-") as tmp:
        try:
            CASES[name](Run(tessel, src, tmp))
        except Fail as e:
            print(f"FAIL {name}: {e}")
            return 1
    print(f"ok {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
