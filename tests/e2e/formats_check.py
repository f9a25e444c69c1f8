#!/usr/bin/env python3
"""Check mode's formats read back as their readers read them, over files
whose names hold spaces, colons, commas, quotes, percent signs, a line
feed and bytes that are not UTF-8: each format must give every name back
byte for byte and never let one end its line or break its syntax.

Usage: formats_check.py TESSEL names
       formats_check.py TESSEL validate VALIDATOR_DIR

validate runs the official SARIF validator (npm ci --prefix tests/sarif)
over a log; exit status 77 (skipped) when it is not installed, a failure
instead with TESSEL_REQUIRE_ALL_TESTS set.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import urllib.parse

FAILURES = []

NAMES = [b"a b.html", b"c:d,e.html", b"100%.html", b'q"uote\'.html', b"new\nline.html",
         b"cr\rhere.html", b"\xff\xfe.html", "\u00fcml.html".encode(), b"#h?q.html", b"esc\x1b[31m.html"]
RULES = {"tag-warned", "attribute-warned", "comment-warned", "tag-removed", "attribute-removed",
         "comment-removed", "region-removed", "unterminated-removed", "unsafe-url", "read-error"}


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print(f"FAIL: {message}")


def run_check(binary, tmp, fmt):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "HOME": tmp}
    args = [os.fsencode(binary), b"-cq", b"-f", b"lint.cfg", b"--format=" + fmt.encode()]
    result = subprocess.run(args + NAMES + [b"missing.html"], capture_output=True, cwd=tmp, env=env, timeout=60)
    check(result.returncode == 2, f"{fmt}: status {result.returncode}, not 2")
    return result.stdout


def prepare(tmp):
    with open(os.path.join(tmp, "lint.cfg"), "w") as f:
        f.write("<font>: WARN\n")
    for name in NAMES:
        with open(os.path.join(os.fsencode(tmp), name), "w") as f:
            f.write("x\n<font>\n")


def text_name(name):
    return re.sub(rb"[\x00-\x1f\x7f]", lambda m: b"\\x%02X" % m.group()[0], name)


def gnu(out):
    lines = out.split(b"\n")[:-1]
    check(lines == [text_name(n) + b":2:1: warning: <FONT> tag [tag-warned]" for n in NAMES], f"gnu: {lines!r}")


def json_lines(out):
    objects = [json.loads(line) for line in out.decode().split("\n")[:-1]]
    found = [os.fsencode(o["file"]) for o in objects if o["rule"] == "tag-warned"]
    check(found == NAMES, f"json: names {found!r}")
    check([o["rule"] for o in objects][-1] == "read-error", "json: no read-error last")


def uri_name(uri):
    check(re.fullmatch(r"[A-Za-z0-9\-._~/!$&'()*+,;=%]+", uri) is not None, f"sarif: uri {uri!r} not encoded")
    return urllib.parse.unquote_to_bytes(uri)


def sarif(out):
    log = json.loads(out)
    check(log["version"] == "2.1.0" and "sarif-2.1.0" in log["$schema"], "sarif: version or $schema")
    check(len(log["runs"]) == 1, "sarif: not one run")
    run = log["runs"][0]
    driver = run["tool"]["driver"]
    check(driver["name"] == "tessel" and driver["version"] != "", "sarif: driver name or version")
    rule_ids = [r["id"] for r in driver["rules"]]
    check(set(rule_ids) == RULES and len(rule_ids) == len(RULES), f"sarif: rules {rule_ids!r}")
    check(all(r["shortDescription"]["text"] for r in driver["rules"]), "sarif: a rule without description")
    results = run["results"]
    for result in results:
        check(result["ruleId"] in RULES and result["message"]["text"], f"sarif: result {result!r}")
    warned = [r for r in results if r["ruleId"] == "tag-warned"]
    check(all(r["level"] == "warning" for r in warned), "sarif: level of a warning")
    places = [r["locations"][0]["physicalLocation"] for r in warned]
    check([uri_name(p["artifactLocation"]["uri"]) for p in places] == NAMES, "sarif: names from the uris")
    check(all(p["region"]["startLine"] == 2 for p in places), "sarif: startLine")
    errors = [r for r in results if r["ruleId"] == "read-error"]
    check(len(errors) == 1 and errors[0]["level"] == "error", f"sarif: read errors {errors!r}")
    check(run["invocations"][0]["executionSuccessful"] is False, "sarif: run counted as successful")


def github_value(value):
    value = re.sub(rb"\\x([0-9A-F]{2})", lambda m: bytes([int(m.group(1), 16)]), value)
    for escape, byte in ((b"%2C", b","), (b"%3A", b":"), (b"%0A", b"\n"), (b"%0D", b"\r"), (b"%25", b"%")):
        value = value.replace(escape, byte)
    return value


def github(out):
    lines = out.split(b"\n")[:-1]
    check(len(lines) == len(NAMES) + 1, f"github: {len(lines)} lines")
    pattern = re.compile(rb"::warning file=([^,:]*),line=2,col=1::<FONT> tag")
    matches = [pattern.fullmatch(line) for line in lines[:-1]]
    check(all(matches), f"github: lines {lines!r}")
    check([github_value(m.group(1)) for m in matches if m] == NAMES, "github: names from the file values")
    check(all(b"\r" not in line and b"\x1b" not in line for line in lines), "github: a raw control byte")
    check(lines[-1] == b"::error file=missing.html::Unable to open input file missing.html: No such file or directory",
          f"github: {lines[-1]!r}")


def names(binary):
    with tempfile.TemporaryDirectory() as tmp:
        prepare(tmp)
        for fmt, reader in (("gnu", gnu), ("json", json_lines), ("sarif", sarif), ("github", github)):
            try:
                reader(run_check(binary, tmp, fmt))
            except (ValueError, KeyError, IndexError, TypeError) as error:
                check(False, f"{fmt}: unreadable output: {error!r}")


def validate(binary, validator_dir):
    tool = os.path.join(validator_dir, "node_modules", ".bin", "sarif-multitool")
    if not os.path.exists(tool):
        reason = "@microsoft/sarif-multitool not installed (npm ci --prefix tests/sarif)"
        if os.environ.get("TESSEL_REQUIRE_ALL_TESTS"):
            print(f"FAIL: {reason}")
            return 1
        print(f"skipped: {reason}")
        return 77
    with tempfile.TemporaryDirectory() as tmp:
        prepare(tmp)
        log = os.path.join(tmp, "findings.sarif")
        with open(log, "wb") as f:
            f.write(run_check(binary, tmp, "sarif"))
        result = subprocess.run([tool, "validate", log], capture_output=True, text=True, timeout=300,
                                env=dict(os.environ, DOTNET_CLI_TELEMETRY_OPTOUT="1"))
        # The validator exits with 0 whatever it finds: its verdicts are lines.
        errors = [line for line in result.stdout.splitlines() if re.search(r": error [A-Z]+[0-9]+:", line)]
        check(result.returncode == 0 and "Analysis completed successfully" in result.stdout,
              f"validator did not finish: {result.stdout}{result.stderr}")
        check(not errors, "validator errors:\n" + "\n".join(errors))
    return 1 if FAILURES else 0


def main():
    binary, mode = os.path.abspath(sys.argv[1]), sys.argv[2]
    if mode == "validate":
        return validate(binary, sys.argv[3])
    names(binary)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
