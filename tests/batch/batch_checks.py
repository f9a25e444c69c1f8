#!/usr/bin/env python3
"""Batch mode as a process: tessel --batch -f CFG reading JSON lines.

Usage: batch_checks.py TESSEL SOURCE_DIR CASE

Each case runs in a fresh temporary directory with LC_ALL=C, an empty HOME
and TESSEL_CFG unset. Exit status 0 passes, 1 fails, 77 skips (a missing
tool, unless TESSEL_REQUIRE_ALL_TESTS is set).
"""
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile

TESSEL, SOURCE, CASE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
CFG = os.path.join(SOURCE, "examples", "tessel.cfg")
ENV = {k: v for k, v in os.environ.items() if k != "TESSEL_CFG"}
ENV.update(LC_ALL="C")


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def skip(reason):
    if os.environ.get("TESSEL_REQUIRE_ALL_TESTS") == "1":
        fail(f"cannot run: {reason}")
    print("skipped:", reason)
    sys.exit(77)


def run(args, data, **kw):
    return subprocess.run([TESSEL] + args, input=data, capture_output=True, env=ENV, timeout=120, **kw)


def lines(docs):
    return b"".join(json.dumps(d).encode() + b"\n" for d in docs)


def answers(stdout):
    return [json.loads(line) for line in stdout.decode("utf-8", "surrogateescape").splitlines()]


def alone(html_bytes, extra=()):
    """What the command makes of one document alone: (output, findings)."""
    r = run(["--json", *extra, "-f", CFG], html_bytes)
    findings = [json.loads(line) for line in r.stderr.decode("utf-8", "surrogateescape").splitlines()]
    for f in findings:
        del f["file"]
    return r.stdout, findings


def expect(what, got, wanted):
    if got != wanted:
        fail(f"{what}:\n  got    {got!r}\n  wanted {wanted!r}")


def case_ids_in_order():
    # Every kind of JSON value as an id, echoed as written, in input order.
    ids = [1, "two", None, [3, {"x": True}], {"nested": [1.5e3, -0]}, "ünï", 0]
    docs = [{"id": i, "html": f"<b>{n}</b><blink onclick=x>{n}</blink>"} for n, i in enumerate(ids)]
    r = run(["--batch", "-f", CFG], lines(docs))
    expect("status", r.returncode, 0)
    expect("stderr", r.stderr, b"")
    got = answers(r.stdout)
    expect("ids", [a["id"] for a in got], ids)
    for doc, answer in zip(docs, got):
        out, findings = alone(doc["html"].encode())
        expect("html", answer["html"].encode(), out)
        expect("findings", answer["findings"], findings)
    # Without an id the answer has a null one; members may come in any order.
    r = run(["--batch", "-f", CFG], b' { "html" : "<i>a</i>" , "x": [] } \n')
    expect("no id", answers(r.stdout), [{"id": None, "html": "<i>a</i>", "findings": []}])


def case_bad_lines():
    good = b'{"id":"g","html":"<b>x</b>"}\n'
    bad = [
        (b"not json", None),
        (b"", None),
        (b"[1,2]", None),
        (b'{"id":7}', 7),
        (b'{"id":8,"html":5}', 8),
        (b'{"id":9,"html":"<b>x</b>"', 9),
        (b'{"id":10,"html":"a"} trailing', 10),
        (b'{"id":11,"html":"\\ud800"}', 11),
        (b'{"id":12,"html":"\\udc00"}', 12),
        (b'{"id":13,"html":"bad \\q escape"}', 13),
        (b'{"id":14,"html":"raw \x01 control"}', 14),
        (b'{"id":' + b"[" * 300 + b"]" * 300 + b',"html":""}', None),
        (b'{"id":-,"html":""}', None),
    ]
    data = good + b"".join(line + b"\n" + good for line, _ in bad)
    r = run(["--batch", "-f", CFG], data)
    expect("status", r.returncode, 2)
    got = answers(r.stdout)
    expect("answer count", len(got), 1 + 2 * len(bad))
    for n, (line, wanted_id) in enumerate(bad):
        answer = got[1 + 2 * n]
        if "error" not in answer:
            fail(f"no error for {line!r}: {answer}")
        expect(f"error id of {line!r}", answer["id"], wanted_id)
        expect(f"error line of {line!r}", answer["line"], 2 + 2 * n)
        expect("good after bad", got[2 + 2 * n], {"id": "g", "html": "<b>x</b>", "findings": []})
    # A last line without its line end is still a line.
    r = run(["--batch", "-f", CFG], good + b'{"id":2,"html":"<u>y</u>"}')
    expect("unended last line", [a["id"] for a in answers(r.stdout)], ["g", 2])
    expect("status", r.returncode, 0)


def case_not_utf8():
    # Bytes that are not UTF-8 travel as \udcXX both ways, and raw ones in
    # the input line are taken as they are.
    doc = b"caf\xe9 <b title=\"\xff\">\xc3\xa9</b><x\xfe>gone</x\xfe>"
    escaped = json.dumps(doc.decode("utf-8", "surrogateescape"))
    data = b'{"id":"e","html":' + escaped.encode() + b"}\n"
    data += b'{"id":"raw\xff","html":"' + doc.replace(b'"', b'\\"') + b'"}\n'
    r = run(["--batch", "-r", "-f", CFG], data)
    expect("status", r.returncode, 0)
    out, findings = alone(doc, ["-r"])
    for line in r.stdout.splitlines():
        line.decode("ascii" if b"\\udc" in line and max(line) < 0x80 else "utf-8")  # valid UTF-8 lines
    got = answers(r.stdout)
    expect("ids", [a["id"] for a in got], ["e", "raw\udcff"])
    for answer in got:
        expect("bytes back", answer["html"].encode("utf-8", "surrogateescape"), out)
        expect("findings", answer["findings"], findings)
    if b"\\udcfe" not in r.stdout:
        fail("the name's byte is not escaped in the findings")


def case_hostile_between_good():
    # A document that leaves a region dropped whole open, a script open, a
    # held '<' and a huge tag must leave nothing behind for the next one.
    good = {"id": "g", "html": "<p>fine <a href=\"/x\">link</a></p>"}
    hostile = [
        "<script>alert(1)",
        "<style><b>x",
        "<svg><p>in svg",
        "<textarea>open",
        "text then <",
        "<table><tr><td>cell",
        "<a href=\"" + "x" * 300000,
        "<b>" * 20000,
        "<!-- unclosed comment",
    ]
    docs = [good]
    for h in hostile:
        docs += [{"id": "h", "html": h}, good]
    r = run(["--batch", "-f", CFG], lines(docs))
    expect("status", r.returncode, 0)
    got = answers(r.stdout)
    expect("count", len(got), len(docs))
    good_out, _ = alone(good["html"].encode())
    for n, (doc, answer) in enumerate(zip(docs, got)):
        if doc is good:
            expect(f"good document {n}", answer["html"].encode(), good_out)
        else:
            out, findings = alone(doc["html"].encode())
            expect(f"hostile document {n}", answer["html"].encode(), out)
            expect(f"hostile findings {n}", answer["findings"], findings)


def case_pipe_one_line_at_a_time():
    # A caller writes one line and waits for its answer before the next.
    p = subprocess.Popen([TESSEL, "--batch", "-f", CFG], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=ENV)
    try:
        for n in range(50):
            p.stdin.write(json.dumps({"id": n, "html": f"<b>{n}</b><img src=javascript:x>"}).encode() + b"\n")
            p.stdin.flush()
            ready, _, _ = select.select([p.stdout], [], [], 30)
            if not ready:
                fail(f"no answer to line {n + 1} while the input stays open")
            answer = json.loads(p.stdout.readline())
            expect("answer", (answer["id"], answer["html"]), (n, f"<b>{n}</b><img>"))
        p.stdin.close()
        expect("end", p.stdout.read(), b"")
        expect("status", p.wait(30), 0)
    finally:
        if p.poll() is None:
            p.kill()
            p.wait()


def case_parallel_pipe():
    # The recipe of the README: GNU parallel hands blocks of whole lines to
    # several tessel processes and, with --keep-order, gives the answers
    # back in input order.
    parallel = shutil.which("parallel")
    if parallel is None:
        skip("GNU parallel not found (apt-get install parallel)")
    docs = [{"id": n, "html": f"<p>{n}<script>x</script><a href='javascript:{n}'>l</a>"} for n in range(3000)]
    cmd = [parallel, "--will-cite", "--pipe", "--keep-order", "--block", "20k", "-j", "3",
           TESSEL, "--batch", "-f", CFG]
    r = subprocess.run(cmd, input=lines(docs), capture_output=True, env=ENV, timeout=300)
    expect("status", r.returncode, 0)
    got = answers(r.stdout)
    expect("ids", [a["id"] for a in got], list(range(3000)))
    expect("html", got[1234]["html"], "<p>1234<a>l</a></p>")
    expect("findings", [f["rule"] for f in got[7]["findings"]], ["unsafe-url"])


def case_options():
    cfg_missing = run(["--batch", "-f", "missing.cfg"], b"")
    expect("missing configuration status", cfg_missing.returncode, 2)
    for args, message in [(["--batch", "-c"], b"Options --batch and -c cannot be used together\n"),
                          (["--batch", "-o", "x.html"], b"Options --batch and -o cannot be used together\n")]:
        r = run(args + ["-f", CFG], b"")
        expect(f"{args} status", r.returncode, 2)
        expect(f"{args} message", r.stderr, message)
    # The input may be a file of lines too; an empty input answers nothing.
    with open("in.jsonl", "wb") as f:
        f.write(lines([{"id": 1, "html": "<b>x"}]))
    r = run(["--batch", "-f", CFG, "in.jsonl"], b"")
    expect("from a file", answers(r.stdout), [{"id": 1, "html": "<b>x</b>", "findings": []}])
    r = run(["--batch", "-f", CFG], b"")
    expect("empty input", (r.returncode, r.stdout), (0, b""))
    r = subprocess.run(f"'{TESSEL}' --batch -f '{CFG}' < in.jsonl > /dev/full", shell=True, capture_output=True, env=ENV)
    expect("/dev/full status", r.returncode, 2)
    if b"Unable to write output" not in r.stderr:
        fail(f"no message for a failed write: {r.stderr!r}")


CASES = {name[5:]: f for name, f in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    if CASE not in CASES:
        fail(f"no case {CASE}")
    with tempfile.TemporaryDirectory() as tmp:
        os.chdir(tmp)
        ENV["HOME"] = tmp
        CASES[CASE]()
    print("ok")
