"""The Python binding: clean, check, errors, threads, and its output against
the command's on the end-to-end cases' inputs.

Needs TESSEL_LIBRARY (the built libtessel.so), TESSEL_BINARY (the built
tessel) and TESSEL_SOURCE_DIR; CTest sets them.
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile
import threading
import unittest

import tessel

SOURCE = os.environ["TESSEL_SOURCE_DIR"]
BINARY = os.environ["TESSEL_BINARY"]
EXAMPLE = os.path.join(SOURCE, "examples", "tessel.cfg")
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
import run_case  # noqa: E402  (the parser of the golden files)

POLICY = """MODE: SAFE
DEFAULT: DROP
<b>: KEEP
<blink>: WARN
<script>: DROP ALL
<a> { ATTRIBUTE href: KEEP DEFAULT: DROP }
"""


class Clean(unittest.TestCase):
    def setUp(self):
        self.policy = tessel.Policy(POLICY)

    def test_types_in_and_out(self):
        html = "<b>é</b><i>x</i><script>s</script>"
        cases = [(html, "<b>é</b>x"), (html.encode(), "<b>é</b>x".encode()),
                 (bytearray(html.encode()), "<b>é</b>x".encode()), ("", ""), (b"", b"")]
        for given, wanted in cases:
            with self.subTest(given=given):
                got = self.policy.clean(given)
                self.assertEqual(got, wanted)
                self.assertIs(type(got), type(wanted))

    def test_bytes_that_are_not_utf8_survive_both_types(self):
        raw = b"\xff<b title=\"\xfe\">\xe9</b>"
        self.assertEqual(self.policy.clean(raw), raw)
        text = raw.decode("utf-8", "surrogateescape")
        self.assertEqual(self.policy.clean(text).encode("utf-8", "surrogateescape"), raw)

    def test_each_document_starts_afresh(self):
        for hostile in ["<script>open", "<b>" * 5000, "x <", "<a href=\"" + "y" * 100000]:
            with self.subTest(hostile=hostile[:20]):
                self.policy.clean(hostile)
                self.assertEqual(self.policy.clean("<b>next</b>"), "<b>next</b>")

    def test_threads_share_one_policy(self):
        errors = []

        def work(n):
            for i in range(200):
                got = self.policy.clean(f"<b>{n}.{i}</b><script>x<b>")
                if got != f"<b>{n}.{i}</b>":
                    errors.append(got)

        threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])


class Check(unittest.TestCase):
    def test_findings(self):
        policy = tessel.Policy(POLICY)
        found = policy.check('<b>x</b>\n  <blink>y</blink><a href="javascript:x" onclick=z>l</a>')
        self.assertEqual([(f.line, f.column, f.kind, f.rule, f.tag, f.attribute) for f in found], [
            (2, 3, "warning", "tag-warned", "BLINK", None),
            (2, 11, "warning", "tag-warned", "BLINK", None),
            (2, 19, "unsafe-url", "unsafe-url", "A", "HREF"),
        ])
        self.assertEqual(found[2].message, "A tag with unsafe URL in attribute HREF")
        self.assertEqual(policy.check(""), [])

    def test_removals_on_request(self):
        policy = tessel.Policy(POLICY)
        found = policy.check("<i>x</i><script>s", report_removals=True)
        self.assertEqual([f.rule for f in found], ["tag-removed", "tag-removed", "region-removed"])
        self.assertIsNone(found[2].end_line)  # the region ran to the end of the input


class Errors(unittest.TestCase):
    def test_policy_text_with_an_error(self):
        with self.assertRaises(tessel.PolicyError) as caught:
            tessel.Policy("<b>: KEEP\n<a>: EDIT\n")
        e = caught.exception
        self.assertEqual((e.file, e.line), ("", 2))
        self.assertEqual(e.place, 'found "EDIT", expected KEEP, WARN, DROP or DROP ALL after <a>:')
        self.assertIn('Unexpected word "EDIT" found', str(e))

    def test_policy_files(self):
        with tempfile.TemporaryDirectory() as tmp:
            bad = os.path.join(tmp, "bad.cfg")
            with open(bad, "w") as f:
                f.write("DEFAULT: DROP\n<x>: KEEP;\n")
            with self.assertRaises(tessel.PolicyError) as caught:
                tessel.Policy.from_file(bad)
            self.assertEqual((caught.exception.file, caught.exception.line), (bad, 2))
            with self.assertRaises(tessel.PolicyError) as caught:
                tessel.Policy.from_file(os.path.join(tmp, "missing.cfg"))
            self.assertEqual(caught.exception.line, 0)
            self.assertIn("No such file or directory", caught.exception.message)
            self.assertIsInstance(caught.exception, tessel.TesselError)

    def test_wrong_types(self):
        policy = tessel.Policy(POLICY)
        with self.assertRaises(TypeError):
            policy.clean(5)
        with self.assertRaises(TypeError):
            tessel.Policy(None)


def command_cases():
    """(title, cfg file's name, its bytes, extra args, stdin) of each golden
    case that runs the usual mode with -f, and perhaps -r, on standard input."""
    directory = os.path.join(SOURCE, "tests", "e2e", "cases")
    for name in sorted(os.listdir(directory)):
        for title, _, sections in run_case.parse(os.path.join(directory, name)):
            by_name = {s.name: s for s in sections}
            if set(by_name) - {"args", "file", "stdin", "stdout", "stderr", "status"} or "args" not in by_name:
                continue
            files = [s for s in sections if s.name == "file"]
            words = shlex.split(by_name["args"].content().decode("latin-1"))
            extra = [w for w in words if w in ("-r", "--json")]
            rest = [w for w in words if w not in extra]
            if len(files) != 1 or rest != ["-f", files[0].arg]:
                continue
            stdin = by_name["stdin"].content() if "stdin" in by_name else b""
            yield f"{name}: {title}", files[0].arg, files[0].content(), extra, stdin


class SameAsTheCommand(unittest.TestCase):
    def test_end_to_end_inputs(self):
        compared = 0
        with tempfile.TemporaryDirectory() as tmp:
            env = dict(os.environ, LC_ALL="C", HOME=tmp)
            env.pop("TESSEL_CFG", None)
            # A sanitizer's run-time preloaded for Python is not for the command.
            command_env = {k: v for k, v in env.items() if k != "LD_PRELOAD"}
            for title, cfg_name, cfg, extra, stdin in command_cases():
                with self.subTest(title):
                    path = os.path.join(tmp, os.path.basename(cfg_name))
                    with open(path, "wb") as f:
                        f.write(cfg)
                    args = ["-f", path, *extra]
                    command = subprocess.run([BINARY, "--json", *args], input=stdin, capture_output=True,
                                             env=command_env)
                    report = "-r" in extra
                    if command.returncode != 0:
                        with self.assertRaises(tessel.PolicyError):
                            tessel.Policy.from_file(path)
                        continue
                    policy = tessel.Policy.from_file(path)
                    self.assertEqual(policy.clean(stdin, report), command.stdout)
                    wanted = [json.loads(line) for line in command.stderr.decode("utf-8", "surrogateescape").splitlines()]
                    got = [{k: v for k, v in vars(f).items()} for f in policy.check(stdin, report)]
                    self.assertEqual([(f["line"], f["rule"], f["tag"], f["attribute"], f["message"]) for f in got],
                                     [(w["line"], w["rule"], w.get("tag"), w.get("attribute"), w["message"])
                                      for w in wanted])
                    # python3 -m tessel as the command, byte for byte.
                    module = subprocess.run([sys.executable, "-m", "tessel", *args], input=stdin,
                                            capture_output=True, env=env)
                    command = subprocess.run([BINARY, *args], input=stdin, capture_output=True, env=command_env)
                    self.assertEqual((module.returncode, module.stdout, module.stderr),
                                     (command.returncode, command.stdout, command.stderr))
                    compared += 1
        self.assertGreater(compared, 20)


if __name__ == "__main__":
    unittest.main()
