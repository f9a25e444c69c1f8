#!/usr/bin/env python3
"""Runs one end-to-end golden case against the tessel binary.

A case file holds one or more cases. Each case begins with a title line
'### TITLE' and goes on with sections, each introduced by a line
'@@ NAME [ARG] [flags]'; a section's content is every line up to the next
'@@ ' or '### ' line, exactly (so do not separate sections with blank lines).
Lines before the first case are a comment.

  @@ args            the command line after the program name (shell words);
                     {src} is the source tree, {tmp} the case's directory
  @@ env             KEY=VALUE lines to set, -KEY lines to unset
  @@ file PATH       a file created under the case's directory
  @@ dir PATH        an (empty) directory created there
  @@ man-example PATH SOURCE [NAME]
                     a file created from the example block of the manual
                     page SOURCE (relative to {src}), between the lines
                     '.\\" example-begin' and '.\\" example-end' (for a
                     NAME, '.\\" example-begin NAME' and the next end);
                     so the documentation cannot drift from the program
  @@ stdin           standard input (empty when absent)
  @@ stdout-file P   send standard output to P (e.g. /dev/full), not compared
  @@ close           standard streams to close before tessel starts, one
                     per line: stdin, stdout (then not compared)
  @@ stdout          expected standard output
  @@ stderr          expected standard error
  @@ status          expected exit status
  @@ file-after P    expected content of the file P after the run
  @@ listing         expected names in the case's directory after the run,
                     one a line, sorted, hidden ones included ('home' left
                     out): no stray file is left behind
  @@ file-size-limit the limit on the size of files the binary writes, in
                     bytes (ulimit -f), so that writing one fails as on a
                     full disk, even as root

Flags after the section name: '-n' drops the content's final line end,
'esc' decodes backslash escapes (\\0, \\r, \\xNN, \\\\). Each case runs in a
fresh temporary directory as the current directory, with LC_ALL=C, HOME an
empty directory and TESSEL_CFG unset unless the case sets them. Output is
compared byte for byte. TESSEL_E2E_WRAPPER, if set, is a command prefix
(for example valgrind) put before the binary. With TESSEL_E2E_UPDATE=1 the
stdout and stderr sections that differ are rewritten with what the binary
gave (review the diff before committing it).
"""
import codecs
import difflib
import os
import resource
import shlex
import subprocess
import sys
import tempfile


class Section:
    def __init__(self, name, arg, flags, first_line):
        self.name, self.arg, self.flags = name, arg, flags
        self.first_line, self.last_line = first_line, first_line
        self.lines = []

    def content(self):
        data = "".join(self.lines).encode("latin-1")
        if "-n" in self.flags and data.endswith(b"\n"):
            data = data[:-1]
        if "esc" in self.flags:
            data = codecs.escape_decode(data)[0]
        return data


def parse(path):
    cases, current = [], None
    with open(path, encoding="latin-1", newline="") as f:
        for number, line in enumerate(f, 1):
            if line.startswith("### "):
                cases.append((line[4:].strip(), number, []))
                current = None
            elif line.startswith("@@ ") and cases:
                words = line[3:].split()
                name = words[0]
                arg = None
                if name in ("file", "dir", "stdout-file", "file-after"):
                    arg = words[1]
                    words = words[1:]
                elif name == "man-example":
                    example = words[3] if len(words) > 3 and words[3] not in ("-n", "esc") else None
                    arg = (words[1], words[2], example)
                    words = words[3:] if example else words[2:]
                current = Section(name, arg, words[1:], number)
                cases[-1][2].append(current)
            elif current is not None:
                current.lines.append(line)
                current.last_line = number
    return cases


def man_example(path, name=None):
    """The configuration shown between the example markers of a man page."""
    with open(path, encoding="latin-1") as f:
        lines = f.read().splitlines()
    begin = lines.index('.\\" example-begin' + (" " + name if name else ""))
    end = lines.index('.\\" example-end', begin)
    body = [line for line in lines[begin + 1:end] if line not in (".nf", ".fi")]
    text = "\n".join(body) + "\n"
    return text.replace("\\e", "\\").replace("\\-", "-").replace("\\&", "").encode("latin-1")


def expand(text, src, tmp):
    return text.replace("{src}", src).replace("{tmp}", tmp)


def show(label, expected, actual):
    exp = expected.decode("latin-1").splitlines(keepends=True)
    act = actual.decode("latin-1").splitlines(keepends=True)
    diff = difflib.unified_diff(exp, act, f"expected {label}", f"actual {label}")
    sys.stdout.write("".join(repr(line)[1:-1] + "\n" for line in diff))


def run_one(binary, case_path, src, title, sections):
    with tempfile.TemporaryDirectory(prefix="tessel-e2e-") as tmp:
        os.mkdir(os.path.join(tmp, "home"))
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C",
               "HOME": os.path.join(tmp, "home")}
        for var in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if var in os.environ:
                env[var] = os.environ[var]
        args, stdin, stdout_file, size_limit, closed = [], b"", None, None, []
        expected, after = {}, []
        for s in sections:
            if s.name == "args":
                args = shlex.split(expand(s.content().decode("latin-1"), src, tmp))
            elif s.name == "env":
                for line in s.content().decode("latin-1").splitlines():
                    if line.startswith("-"):
                        env.pop(line[1:], None)
                    elif "=" in line:
                        key, value = line.split("=", 1)
                        env[key] = expand(value, src, tmp)
            elif s.name == "file":
                target = os.path.join(tmp, s.arg)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as f:
                    f.write(s.content())
            elif s.name == "man-example":
                with open(os.path.join(tmp, s.arg[0]), "wb") as f:
                    f.write(man_example(os.path.join(src, s.arg[1]), s.arg[2]))
            elif s.name == "dir":
                os.makedirs(os.path.join(tmp, s.arg), exist_ok=True)
            elif s.name == "stdin":
                stdin = s.content()
            elif s.name == "stdout-file":
                stdout_file = expand(s.arg, src, tmp)
            elif s.name == "close":
                closed = s.content().decode("latin-1").split()
            elif s.name in ("stdout", "stderr", "status"):
                expected[s.name] = s
            elif s.name in ("file-after", "listing"):
                after.append(s)
            elif s.name == "file-size-limit":
                size_limit = int(s.content())
            else:
                print(f"{case_path}:{s.first_line}: unknown section {s.name}")
                return True
        wrapper = shlex.split(os.environ.get("TESSEL_E2E_WRAPPER", ""))
        if wrapper and size_limit is not None:
            # valgrind's own files meet the limit before tessel's do.
            print(f"skipped under {wrapper[0]}: {title}")
            return False
        out_target = open(stdout_file, "wb") if stdout_file else subprocess.PIPE
        descriptors = [{"stdin": 0, "stdout": 1}[name] for name in closed]
        if 1 in descriptors:
            stdout_file = os.devnull  # nothing to compare

        def set_up_child():
            for descriptor in descriptors:
                os.close(descriptor)
            if size_limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (size_limit, size_limit))
        try:
            run = subprocess.run(wrapper + [binary] + args, input=None if 0 in descriptors else stdin,
                                 stdout=out_target, stderr=subprocess.PIPE, cwd=tmp, env=env, timeout=600,
                                 preexec_fn=set_up_child)
        finally:
            if out_target is not subprocess.PIPE:
                out_target.close()
        actual = {"stdout": run.stdout or b"", "stderr": run.stderr,
                  "status": f"{run.returncode}\n".encode()}
        failed = False
        for name in ("stdout", "stderr", "status"):
            if name == "stdout" and stdout_file:
                continue
            section = expected.get(name)
            want = section.content() if section else (b"0\n" if name == "status" else b"")
            if name == "status":
                want = want.strip() + b"\n"
            if want != actual[name]:
                if section is not None and name != "status":
                    UPDATES.append((section, actual[name]))
                if not failed:
                    print(f"FAIL: {title}")
                failed = True
                where = f"lines {section.first_line}-{section.last_line}" if section else "absent section"
                print(f"{case_path}: {name} differs ({where})")
                show(name, want, actual[name])
        return check_after(case_path, title, after, tmp, failed)


def check_after(case_path, title, sections, tmp, failed):
    """Compares the files named by file-after and the listing."""
    for s in sections:
        if s.name == "listing":
            names = sorted(n for n in os.listdir(tmp) if n != "home")
            actual = "".join(n + "\n" for n in names).encode("latin-1")
        else:
            try:
                with open(os.path.join(tmp, s.arg), "rb") as f:
                    actual = f.read()
            except OSError as error:
                actual = f"<{error.strerror}>\n".encode()
        if s.content() != actual:
            if not failed:
                print(f"FAIL: {title}")
            failed = True
            print(f"{case_path}: {s.name} {s.arg or ''} differs (lines {s.first_line}-{s.last_line})")
            show(s.name, s.content(), actual)
    return failed


UPDATES = []


def encode_section(section, data):
    """The lines and flags that make section's content data."""
    flags = [f for f in section.flags if f != "-n"]
    if "esc" in flags:
        text = "".join(chr(b) if b == 10 or (32 <= b < 127 and b != 92) else
                       ("\\\\" if b == 92 else f"\\x{b:02x}") for b in data)
    else:
        text = data.decode("latin-1")
    if text and not text.endswith("\n"):
        text += "\n"
        flags.insert(0, "-n")
    return text, flags


def update(case_path):
    with open(case_path, encoding="latin-1", newline="") as f:
        lines = f.readlines()
    for section, data in sorted(UPDATES, key=lambda u: -u[0].first_line):
        text, flags = encode_section(section, data)
        head = " ".join(["@@", section.name] + ([section.arg] if isinstance(section.arg, str) else []) + flags)
        end = section.last_line if section.lines else section.first_line
        lines[section.first_line - 1:end] = [head + "\n"] + text.splitlines(keepends=True)
    with open(case_path, "w", encoding="latin-1", newline="") as f:
        f.writelines(lines)


def main():
    binary, case_path, src = os.path.abspath(sys.argv[1]), sys.argv[2], os.path.abspath(sys.argv[3])
    cases = parse(case_path)
    if not cases:
        print(f"{case_path}: no cases")
        return 1
    failures = 0
    for title, line, sections in cases:
        if run_one(binary, case_path, src, f"{title} (line {line})", sections):
            failures += 1
    print(f"{len(cases) - failures} of {len(cases)} cases passed")
    if UPDATES and os.environ.get("TESSEL_E2E_UPDATE") == "1":
        update(case_path)
        print(f"{case_path}: {len(UPDATES)} sections rewritten")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
