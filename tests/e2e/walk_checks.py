#!/usr/bin/env python3
"""Check mode walking directories, with what golden files cannot build:
symbolic links, a FIFO, names of any byte, a directory without read
permission, thousands of files, a tree deeper than PATH_MAX.

Usage: walk_checks.py TESSEL [CASE...]

Each case runs in a fresh temporary directory with LC_ALL=C, HOME that
directory and TESSEL_CFG unset; standard output and error are compared
byte for byte.
"""
import os
import resource
import socket
import subprocess
import sys
import tempfile

FAILURES = []
LINT_CFG = b"<font>: WARN\n"
PAGE = b"<font>\n"


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print(f"FAIL: {message}")


def run(binary, args, cwd, descriptors=None):
    def preexec():
        if descriptors is not None:
            resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "HOME": cwd}
    # A FIFO that were opened would block: the timeout turns that into a failure.
    return subprocess.run([binary] + args, capture_output=True, cwd=cwd, env=env, timeout=120,
                          preexec_fn=preexec)


def write(path, data=PAGE):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def shown(name):
    """A name as text findings show it: control bytes as \\xHH."""
    return b"".join(b"\\x%02X" % c if c < 0x20 or c == 0x7F else bytes([c]) for c in name)


def finding(name):
    return shown(name) + b":1:1: warning: <FONT> tag [tag-warned]\n"


def first_difference(got, want):
    """The number of the first line where got and want differ, from 1."""
    pairs = zip(got.splitlines(True), want.splitlines(True))
    return next((i for i, (a, b) in enumerate(pairs, 1) if a != b), min(len(got.splitlines()), len(want.splitlines())) + 1)


def expect(result, status, stdout, stderr, what):
    check(result.returncode == status, f"{what}: status {result.returncode}, want {status}")
    for stream, got, want in (("stdout", result.stdout, stdout), ("stderr", result.stderr, stderr)):
        check(got == want, f"{what}: {stream} differs from line {first_difference(got, want)}:\n"
                           f"{got.splitlines(True)[first_difference(got, want) - 1:][:5]!r}\nwant\n"
                           f"{want.splitlines(True)[first_difference(got, want) - 1:][:5]!r}")


def mixed_tree(binary, tmp):
    """Links followed to files and not to directories, names of any byte,
    and every entry that cannot be checked reported, the walk going on."""
    write(os.path.join(tmp, "lint.cfg"), LINT_CFG)
    site = os.path.join(tmp, "site").encode()
    names = [b"a b.html", b"line\nfeed.htm", b"latin1-\xe9.HTML", b"tab\tand\x7f.Htm", b"z.html"]
    for name in names:
        write(os.path.join(site, b"odd", name))
    write(os.path.join(site, b"odd", b"skip.txt"))
    write(os.path.join(site, b"real", b"page.html"))
    os.symlink(b"real", os.path.join(site, b"dir-link"))
    os.symlink(b"real", os.path.join(site, b"dir-link.html"))
    os.symlink(b"real/page.html", os.path.join(site, b"file-link.html"))
    os.symlink(b"nowhere.html", os.path.join(site, b"dangling.html"))
    os.symlink(b"loop.html", os.path.join(site, b"loop.html"))
    os.symlink(b"nowhere", os.path.join(site, b"dangling-other"))
    os.mkfifo(os.path.join(site, b"fifo.html"))
    os.mkfifo(os.path.join(site, b"fifo.txt"))
    os.symlink(b"fifo.html", os.path.join(site, b"fifo-link.html"))
    sock = socket.socket(socket.AF_UNIX)
    sock.bind(os.path.join(site, b"sock.html"))

    result = run(binary, ["-c", "-f", "lint.cfg", "site"], tmp)
    sock.close()
    sorted_odd = sorted(names)
    stdout = b"".join(finding(b"site/file-link.html" if n == b"file-link" else b"site/odd/" + n)
                      for n in [b"file-link"] + sorted_odd)
    stdout += finding(b"site/real/page.html")
    stderr = (b"Unable to open input file site/dangling.html: No such file or directory\n"
              b"Unable to open input file site/fifo-link.html: Not a regular file\n"
              b"Unable to open input file site/fifo.html: Not a regular file\n"
              b"Unable to open input file site/loop.html: Too many levels of symbolic links\n"
              b"Unable to open input file site/sock.html: Not a regular file\n"
              b"12 files checked, 7 findings in 7 files, 5 could not be read\n")
    # The findings come in the walk's order, each file's when it is done,
    # while trouble goes to standard error as it is met: the two streams
    # are compared apart.
    expect(result, 2, stdout, stderr, "mixed tree")


def unreadable_directory(binary, tmp):
    """A directory that cannot be opened, at the top and below it."""
    if os.geteuid() == 0:
        print("skipped: unreadable_directory (permissions do not apply to root)")
        return
    write(os.path.join(tmp, "lint.cfg"), LINT_CFG)
    write(os.path.join(tmp, "site", "a.html"))
    write(os.path.join(tmp, "site", "closed", "hidden.html"))
    write(os.path.join(tmp, "site", "z.html"))
    os.mkdir(os.path.join(tmp, "top"))
    os.chmod(os.path.join(tmp, "site", "closed"), 0)
    os.chmod(os.path.join(tmp, "top"), 0)
    try:
        result = run(binary, ["-c", "-f", "lint.cfg", "site", "top"], tmp)
    finally:
        os.chmod(os.path.join(tmp, "site", "closed"), 0o755)
        os.chmod(os.path.join(tmp, "top"), 0o755)
    expect(result, 2, finding(b"site/a.html") + finding(b"site/z.html"),
           b"Unable to read directory site/closed: Permission denied\n"
           b"Unable to read directory top: Permission denied\n"
           b"2 files checked, 2 findings in 2 files, 2 could not be read\n", "unreadable directory")


def thousands_of_files(binary, tmp):
    """3000 files in 100 directories, every one found, in byte order, with
    room for 64 descriptors: a file or directory left open shows at once."""
    write(os.path.join(tmp, "lint.cfg"), LINT_CFG)
    expected = []
    for d in range(100):
        for f in range(30):
            # Names whose numeric and byte orders differ.
            name = f"site/d{d}/p{f}.html"
            write(os.path.join(tmp, name))
            expected.append(name.encode())
    write(os.path.join(tmp, "site", "d7", "ignored.txt"))
    result = run(binary, ["-c", "-f", "lint.cfg", "site"], tmp, descriptors=64)
    expected.sort()
    expect(result, 1, b"".join(finding(n) for n in expected),
           b"3000 files checked, 3000 findings in 3000 files\n", "thousands of files")


def deeper_than_path_max(binary, tmp):
    """A file whose path is longer than PATH_MAX is found and checked."""
    write(os.path.join(tmp, "lint.cfg"), LINT_CFG)
    part = "d" * 200
    os.mkdir(os.path.join(tmp, "site"))
    fd = os.open(os.path.join(tmp, "site"), os.O_RDONLY | os.O_DIRECTORY)
    path = "site"
    for _ in range(25):
        os.mkdir(part, dir_fd=fd)
        inner = os.open(part, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = inner
        path += "/" + part
    page = os.open("deep.html", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
    os.write(page, PAGE)
    os.close(page)
    os.close(fd)
    name = (path + "/deep.html").encode()
    check(len(name) > 4096, "the tree is deeper than PATH_MAX")
    result = run(binary, ["-c", "-f", "lint.cfg", "site"], tmp)
    expect(result, 1, finding(name), b"1 file checked, 1 finding in 1 file\n", "deeper than PATH_MAX")


CASES = {f.__name__: f for f in (mixed_tree, unreadable_directory, thousands_of_files, deeper_than_path_max)}


def main():
    binary = sys.argv[1]
    for name in sys.argv[2:] or list(CASES):
        with tempfile.TemporaryDirectory() as tmp:
            CASES[name](binary, tmp)
    if FAILURES:
        print(f"{len(FAILURES)} failed")
        return 1
    print("all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
