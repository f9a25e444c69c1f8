#!/usr/bin/env python3
"""Command-line checks that golden files cannot express: --json read back
by a JSON parser (names of any bytes included), the permission bits of a
file written with -o, -o naming a file that is a standard stream, and -o
ended by a signal.

Usage: cli_checks.py TESSEL [NO_TMPFILE]

NO_TMPFILE, a library preloaded to make open refuse O_TMPFILE, adds the
signal checks for a named temporary file.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

FAILURES = []


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print(f"FAIL: {message}")


def run(binary, args, cwd, stdin=b"", umask=None):
    def preexec():
        if umask is not None:
            os.umask(umask)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "HOME": cwd}
    return subprocess.run([binary] + args, input=stdin, capture_output=True, cwd=cwd, env=env,
                          preexec_fn=preexec, timeout=60)


def json_lines(binary, tmp):
    """Every line of --json is one object, and names come back byte for byte."""
    with open(os.path.join(tmp, "lint.cfg"), "w") as f:
        f.write("DEFAULT: WARN\nCOMMENT: WARN\n<a> { ATTRIBUTE href: KEEP  DEFAULT: WARN }\n")
    names = [b"plain.html", b'quote"back\\slash.html', b"new\nline\ttab\x01.html",
             b"latin1-\xe9.html", b"utf8-\xc3\xa9.html", b"overlong-\xc0\xaf.html",
             b"surrogate-\xed\xa0\x80.html", b"cut-\xe2\x82.html"]
    for name in names:
        with open(os.path.join(tmp.encode(), name), "wb") as f:
            f.write(b"<!-- c --><x\xff\x7f\\y>\n<a on\x01click=1 \xc3\xa9=2>")
    # /proc/self/mem opens, and its first page, unmapped, cannot be read.
    args = ["-c", "--json", "-f", "lint.cfg"] + [os.fsdecode(n) for n in names] + ["missing.html", "/proc/self/mem"]
    result = run(binary, args, tmp)
    check(result.returncode == 2, f"--json status {result.returncode}, want 2")
    lines = result.stdout.split(b"\n")
    check(lines[-1] == b"", "--json output ends with a line end")
    objects = []
    for line in lines[:-1]:
        try:
            text = line.decode("utf-8")
        except UnicodeDecodeError:
            check(False, f"--json line is not UTF-8: {line!r}")
            continue
        try:
            objects.append(json.loads(text))
        except ValueError as error:
            check(False, f"--json line is not JSON ({error}): {line!r}")
    seen = {os.fsencode(o["file"]) for o in objects if o["kind"] != "error"}
    check(seen == set(names), f"file names read back: {sorted(seen)!r}")
    for o in objects:
        check({"file", "line", "kind", "message"} <= o.keys(), f"fields of {o!r}")
    tags = {os.fsencode(o["tag"]) for o in objects if o.get("tag")}
    check(b"X\xff\x7f\\Y" in tags, f"tag names read back: {sorted(tags)!r}")
    attributes = {os.fsencode(o["attribute"]) for o in objects if o.get("attribute")}
    check(attributes == {b"ON\x01CLICK", b"\xc3\xa9"}, f"attribute names read back: {sorted(attributes)!r}")
    errors = [o for o in objects if o["kind"] == "error"]
    check(len(errors) == 2 and errors[0]["file"] == "missing.html" and errors[0]["line"] is None,
          f"error objects: {errors!r}")
    # A file that opens but cannot be read gives the reader's reason.
    check(len(errors) == 2 and errors[1]["message"] == "Unable to read input file /proc/self/mem: Input/output error",
          f"error objects: {errors!r}")


def output_modes(binary, tmp):
    """-o keeps the permission bits of the file it replaces (set-ID bits
    aside), and gives a new file 0666 less the umask."""
    with open(os.path.join(tmp, "keep.cfg"), "w") as f:
        f.write("DEFAULT: KEEP\n")
    existing = os.path.join(tmp, "existing.html")
    with open(existing, "w") as f:
        f.write("old")
    os.chmod(existing, 0o4640)
    result = run(binary, ["-f", "keep.cfg", "-o", "existing.html"], tmp, b"<p>new", umask=0o077)
    check(result.returncode == 0, f"-o over an existing file: status {result.returncode} {result.stderr!r}")
    mode = os.stat(existing).st_mode & 0o7777
    check(mode == 0o640, f"-o over a file of mode 4640 gives {mode:o}, want 640")
    result = run(binary, ["-f", "keep.cfg", "-o", "new.html"], tmp, b"<p>new", umask=0o027)
    mode = os.stat(os.path.join(tmp, "new.html")).st_mode & 0o7777
    check(result.returncode == 0 and mode == 0o640, f"a new file under umask 027 has mode {mode:o}, want 640")
    link = os.path.join(tmp, "link.html")
    os.symlink("existing.html", link)
    result = run(binary, ["-f", "keep.cfg", "-o", "link.html"], tmp, b"<p>through the link")
    with open(existing) as f:
        content = f.read()
    check(result.returncode == 0 and os.path.islink(link) and content == "<p>through the link",
          "-o through a symbolic link replaces the file it names")
    dangling = os.path.join(tmp, "dangling.html")
    os.symlink("no-such-dir/x.html", dangling)
    result = run(binary, ["-f", "keep.cfg", "-o", "dangling.html"], tmp, b"<p>x")
    check(result.returncode == 1 and os.path.islink(dangling) and
          result.stderr == b"Unable to resolve output file dangling.html: No such file or directory\n",
          f"-o through a link that names nothing is refused and leaves the link: {result.stderr!r}")


def output_streams(binary, tmp):
    """-o naming the file that standard output writes writes it as standard
    output (the same file, not a new one in its place); naming standard
    error is refused and leaves it; naming standard input filters it in place."""
    with open(os.path.join(tmp, "drop.cfg"), "w") as f:
        f.write("DEFAULT: KEEP\n<b>: DROP\n")
    log = os.path.join(tmp, "log.txt")
    for name in ("/dev/stdout", "log.txt"):
        with open(log, "w") as f:
            f.write("old\n")
        inode = os.stat(log).st_ino
        with open(log, "ab") as stdout:
            result = subprocess.run([binary, "-f", "drop.cfg", "-o", name], input=b"<b>x</b>", stdout=stdout,
                                    stderr=subprocess.PIPE, cwd=tmp, timeout=60)
        with open(log) as f:
            content = f.read()
        check(result.returncode == 0 and result.stderr == b"" and os.stat(log).st_ino == inode and
              content == "old\nx", f"-o {name} with standard output appending to log.txt: status "
              f"{result.returncode} {result.stderr!r}, log.txt {content!r}, same file {os.stat(log).st_ino == inode}")
    errors = os.path.join(tmp, "errors.txt")
    with open(errors, "w") as f:
        f.write("old\n")
    inode = os.stat(errors).st_ino
    with open(errors, "ab") as stderr:
        result = subprocess.run([binary, "-f", "drop.cfg", "-o", "errors.txt"], input=b"<b>x</b>",
                                stdout=subprocess.PIPE, stderr=stderr, cwd=tmp, timeout=60)
    with open(errors) as f:
        content = f.read()
    check(result.returncode == 1 and result.stdout == b"" and os.stat(errors).st_ino == inode and
          content == "old\nOutput file errors.txt is standard error\n",
          f"-o naming standard error: status {result.returncode}, errors.txt {content!r}")
    page = os.path.join(tmp, "page.html")
    with open(page, "w") as f:
        f.write("<b>x</b>")
    with open(page, "rb") as stdin:
        result = subprocess.run([binary, "-f", "drop.cfg", "-o", "page.html"], stdin=stdin,
                                capture_output=True, cwd=tmp, timeout=60)
    with open(page) as f:
        content = f.read()
    check(result.returncode == 0 and content == "x",
          f"-o naming the file standard input reads: status {result.returncode} {result.stderr!r}, {content!r}")


def wait_for_output(process, work, inputs):
    """Waits until the process has its temporary file open: one in work
    that is none of inputs, with a name or (O_TMPFILE) without."""
    for _ in range(600):
        if len(os.listdir(work)) > len(inputs):
            return
        try:
            for fd in os.listdir(f"/proc/{process.pid}/fd"):
                target = os.readlink(f"/proc/{process.pid}/fd/{fd}")
                if target.startswith(os.path.realpath(work) + "/") and os.path.basename(target) not in inputs:
                    return
        except OSError:
            pass
        time.sleep(0.05)
    check(False, "tessel never opened its temporary file")


def end_by_signal(binary, work, signal_number, env=None, ignore=None):
    """Runs -o on a pipe that stays open, sends signal_number once the
    temporary file is open, and checks that the file and the directory are
    as they were; a signal in ignore is ignored from the start (nohup), the
    run then goes on to the end of its input. The names in the directory
    while the run was in progress, and standard error."""
    with open(os.path.join(work, "out.html"), "w") as f:
        f.write("old")
    def preexec():
        if ignore is not None:
            signal.signal(ignore, signal.SIG_IGN)
    process = subprocess.Popen([binary, "-f", "keep.cfg", "-o", "out.html"], cwd=work, env=env,
                               stdin=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=preexec)
    process.stdin.write(b"<p>part of a document")
    process.stdin.flush()
    wait_for_output(process, work, ["keep.cfg", "out.html"])
    during = sorted(os.listdir(work))
    process.send_signal(signal_number)
    process.stdin.close()
    process.wait(timeout=30)
    errors = process.stderr.read()
    process.stderr.close()
    left = sorted(os.listdir(work))
    check(left == ["keep.cfg", "out.html"], f"after signal {signal_number} the directory holds {left}")
    with open(os.path.join(work, "out.html")) as f:
        content = f.read()
    if signal_number == ignore:
        check(process.returncode == 0 and content == "<p>part of a document",
              f"signal {signal_number} ignored from the start: status {process.returncode}, {content!r}")
    else:
        check(process.returncode == -signal_number,
              f"ended by signal {signal_number}: status {process.returncode}")
        check(content == "old", f"signal {signal_number} changed the output file")
    return during, errors


def signal_work(tmp):
    work = os.path.join(tmp, "signal")
    os.mkdir(work)
    with open(os.path.join(work, "keep.cfg"), "w") as f:
        f.write("DEFAULT: KEEP\n")
    return work


def output_signal(binary, tmp):
    """A signal while the input is read leaves the file and no temporary
    file: those tessel may catch, and SIGKILL, which it cannot."""
    work = signal_work(tmp)
    for signal_number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGUSR1, signal.SIGALRM,
                          signal.SIGKILL):
        end_by_signal(binary, work, signal_number)
    end_by_signal(binary, work, signal.SIGHUP, ignore=signal.SIGHUP)


def output_signal_named(binary, tmp, no_tmpfile):
    """The same where the file system cannot make a file without a name:
    the named temporary file is removed by every signal that would end the
    process, real-time ones included, SIGHUP ignored stays ignored, and a
    handler installed before still runs (no_tmpfile's, for SIGUSR2)."""
    work = signal_work(tmp)
    env = dict(os.environ, LD_PRELOAD=no_tmpfile)
    for signal_number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGUSR1, signal.SIGUSR2,
                          signal.SIGALRM, signal.SIGVTALRM, signal.SIGPWR, signal.SIGRTMIN + 2):
        during, errors = end_by_signal(binary, work, signal_number, env=env)
        temporary = [name for name in during if name not in ("keep.cfg", "out.html")]
        check(len(temporary) == 1 and temporary[0].startswith(".tessel.") and len(temporary[0]) == 14,
              f"the named temporary file: {during}")
        handler_ran = errors == b"SIGUSR2 handler ran\n"
        check(handler_ran == (signal_number == signal.SIGUSR2),
              f"after signal {signal_number} standard error holds {errors!r}")
    end_by_signal(binary, work, signal.SIGHUP, env=env, ignore=signal.SIGHUP)
    result = subprocess.run([binary, "-f", "keep.cfg", "-o", "out.html"], input=b"<p>whole", env=env,
                            capture_output=True, cwd=work, timeout=60)
    with open(os.path.join(work, "out.html")) as f:
        content = f.read()
    check(result.returncode == 0 and content == "<p>whole" and sorted(os.listdir(work)) == ["keep.cfg", "out.html"],
          f"-o through a named temporary file: status {result.returncode} {result.stderr!r}, {content!r}")


def main():
    binary = os.path.abspath(sys.argv[1])
    for test in (json_lines, output_modes, output_streams, output_signal):
        with tempfile.TemporaryDirectory(prefix="tessel-cli-") as tmp:
            test(binary, tmp)
    if len(sys.argv) > 2:
        with tempfile.TemporaryDirectory(prefix="tessel-cli-") as tmp:
            output_signal_named(binary, tmp, os.path.abspath(sys.argv[2]))
    print("all passed" if not FAILURES else f"{len(FAILURES)} failed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
