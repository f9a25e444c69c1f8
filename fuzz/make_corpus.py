#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/).

Seeds come from four places: the hand-written snippets below, the example
configurations and page, the files and standard inputs of the end-to-end
cases (with the configuration examples of the manual pages), and a spread
of attack payloads from a JSON-lines file given with --vectors (one object
a line with a "payload" field). Run it from anywhere; it replaces the three
corpus directories. The output is deterministic.

    python3 fuzz/make_corpus.py --vectors /path/to/vectors.jsonl
"""
import argparse
import json
import os
import re
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# ---- configuration snippets: every statement kind, valid and broken ----

W127 = "W" * 127
CFG = {
    "tag-keep": "<b>: KEEP\n",
    "tag-warn": "<font>: WARN\n",
    "tag-drop": "<span>: DROP\n",
    "tag-drop-all": "<script>: DROP ALL\n",
    "drop-all-across-comment": "<style>: DROP # not yet\n  ALL\n",
    "drop-then-lt": "<span>: DROP <b>: KEEP",
    "drop-then-default": "<span>: DROP DEFAULT: WARN",
    "drop-then-comment": "<span>: DROP COMMENT: DROP",
    "drop-at-eof": "<span>: DROP",
    "drop-then-brace": "<span>: DROP {",
    "compact": "<b>:keep<i>:drop<u>:warn DEFAULT:drop COMMENT:keep",
    "edit": "<a> { ATTRIBUTE href: KEEP  ATTRIBUTE title: WARN  DEFAULT: DROP }\n",
    "edit-empty": "<p> { }\n",
    "edit-default-only": "<p> { DEFAULT: DROP }\n",
    "edit-unclosed": "<img> { ATTRIBUTE src: KEEP",
    "edit-nested-brace": "<a> { <b>: KEEP }",
    "edit-drop-all-attr": "<a> { ATTRIBUTE href: DROP ALL }",
    "edit-attr-no-name": "<a> { ATTRIBUTE : KEEP }",
    "edit-then-tag": "<a> { ATTRIBUTE href: KEEP }\n<a>: KEEP\n",
    "tag-then-edit": "<a>: KEEP\n<a> { ATTRIBUTE href: KEEP }\n",
    "repeat-attr": "<a> { ATTRIBUTE href: KEEP ATTRIBUTE HREF: DROP }",
    "repeat-default": "<a> { DEFAULT: KEEP DEFAULT: DROP }",
    "default": "DEFAULT: DROP\n",
    "default-twice": "DEFAULT: DROP\nDEFAULT: KEEP\n",
    "default-drop-all": "DEFAULT: DROP ALL\n",
    "comment": "COMMENT: WARN\n",
    "comment-twice": "COMMENT: WARN COMMENT: KEEP",
    "comment-drop-all": "COMMENT: DROP ALL\n",
    "repeat-tag": "<b>: KEEP\n<B>: DROP\n",
    "edit-keyword": "<a>: EDIT\n",
    "keyword-names": "<keep>: KEEP <default> { ATTRIBUTE default: DROP ATTRIBUTE all: WARN }",
    "attribute-outside": "ATTRIBUTE href: KEEP\n",
    "bad-semicolon": "<a>: KEEP;\n",
    "bad-slash": "</a>: KEEP\n",
    "bad-equals": "<a>: KEEP = 1\n",
    "bad-star": "<*>: DROP\n",
    "bad-quote": '<a> { ATTRIBUTE "href": KEEP }\n',
    "bad-apostrophe": "<a> { ATTRIBUTE 'href': KEEP }\n",
    "bad-nul": "<a>: KEEP\n\0<b>: DROP\n",
    "bad-high-byte": "<caf\xe9>: KEEP\n",
    "bad-dash-start": "<-a>: KEEP\n",
    "underscore-dash": "<x-y_z>: KEEP <9a>: DROP",
    "lt-eof": "<a",
    "lt-gt": "<>: KEEP",
    "lone-colon": ":",
    "lone-braces": "{ }",
    "lone-rbrace": "}",
    "only-comment": "# nothing here",
    "comment-after-word": "<b>: KEEP#note\n<i>: WARN#x",
    "white-space": "\t<b>\x0b:\x0c KEEP\r\n\r\n<i>\r\n:\r\nDROP\r\n",
    "crlf": "DEFAULT: DROP\r\nCOMMENT: KEEP\r\n<a> {\r\n  ATTRIBUTE href: KEEP\r\n  DEFAULT: DROP\r\n}\r\n",
    "word-127": "<" + W127 + ">: KEEP\n",
    "word-128": "<" + W127 + "W>: KEEP\n",
    "keyword-127": "COMMENT: " + W127 + "\n",
    "name-35": "<" + "N" * 35 + ">: DROP\n",
    "name-36": "<" + "N" * 36 + ">: DROP\n",
    "attr-35": "<a> { ATTRIBUTE " + "A" * 35 + ": DROP }\n",
    "attr-36": "<a> { ATTRIBUTE " + "A" * 36 + ": DROP }\n",
    "attr-127": "<a> { ATTRIBUTE " + "A" * 127 + ": DROP }\n",
    "many-tags": "".join("<t%d>: %s\n" % (i, ("KEEP", "WARN", "DROP", "DROP ALL")[i % 4]) for i in range(300)),
    "many-edits": "".join("<e%d> { ATTRIBUTE x%d: KEEP DEFAULT: DROP }\n" % (i, i) for i in range(120)),
    "many-attrs": "<a> {\n" + "".join("  ATTRIBUTE a%d: %s\n" % (i, ("KEEP", "WARN", "DROP")[i % 3]) for i in range(200)) + "}\n",
    "empty": "",
}

# ---- documents: markup the scanner and the policy must survive ----

LONG_TEXT = "lorem ipsum dolor sit amet " * 20
DOC = {
    "plain-text": "just some text\nover two lines\n",
    "tags": "<p>a <b>bold</b> and <i>it</i></p><br><hr>\n",
    "end-tag-space": "<p>a</ p>< /p></\tP >\n",
    "attrs-quoted": "<a href=\"x.html\" title='t' onclick=\"go()\">x</a>\n",
    "attrs-unquoted": "<img src=a.png alt=x width=1 height=2 onerror=alert(1) />\n",
    "attrs-spacing": "<a  href = \"x\"   title\t=\t'y'  checked  >z</a>",
    "attr-stray-value": "<a =x href=y =\"z\" title>q</a>",
    "attr-unclosed-quote": "<a href=\"x title=y>z</a>\n<img alt='unclosed src=x>",
    "quote-gt-inside": "<a title=\"a>b\" href=x>c</a>",
    "apostrophe-gt-inside": "<a title='a>b' href=x>c</a>",
    "comment": "<!-- a comment -->text<!---->",
    "comment-dashes": "<!-- a -- b --- c ---->x<!-- - -- --- -->",
    "comment-short": "<!-->a<!--->b<!>c<! >d",
    "doctype": "<!DOCTYPE html>\n<html><head></head><body>x</body></html>\n",
    "bang-other": "<!x>a<![CDATA[ <b> ]]>b",
    "empty-tags": "<>a< >b<\t>c</>",
    "script": "<script>if (a < b && c > d) { x = '<b>'; }</script>after",
    "script-comment": "<script><!-- if (a<b) --></script>after",
    "script-end-variants": "<script>a</script >b<script>c</ script>d<SCRIPT>e</Script>f",
    "script-nested-lt": "<script>1<2<3</4</scriptx></script>ok",
    "script-unclosed": "<script>var a = 1; <b>never closed",
    "script-lt-eof": "<script>a<",
    "script-not-script": "<scripts>a<b</scripts><scriptx>c<d",
    "script-attrs": "<script\tsrc=x.js defer></script><script type=\"a>b\">x</script>y",
    "script-in-drop": "<iframe><script>a</iframe>b</script>c</iframe>d",
    "style-leak": "<style>a</div>leak</style>z<style>p{}</STYLE>",
    "nested-drop": "<svg><svg><g></svg>still</svg>after</svg>end",
    "deep-drop": "<svg>" * 200 + "x" + "</svg>" * 199 + "in" + "</svg>" + "out",
    "drop-end-only": "</script></svg>text</iframe>",
    "unterminated-tag": "text <a href=x",
    "unterminated-lt": "text <",
    "unterminated-comment": "text <!-- never ends",
    "unterminated-doctype": "<!DOCTYPE html",
    "unterminated-dashes": "<!--x--",
    "nul-bytes": "a\0b<p\0>c<!\0-- d -->\0<a href='\0'>e</a>\0",
    "only-nul": "\0" * 64,
    "crlf": "<p>\r\nline one\r\n<b\r\nclass=x>two</b>\r\n<!-- c\r\n -->\r\n",
    "long-text": LONG_TEXT,
    "long-tag": "<a " + " ".join("a%d=v%d" % (i, i) for i in range(60)) + ">x</a>",
    "long-tag-name": "<" + "t" * 200 + ">x</" + "t" * 200 + ">",
    "long-attr-name": "<a " + "n" * 200 + "=1 href=x>y</a>",
    "long-comment": "<!-- " + LONG_TEXT + " -->",
    "long-quote": "<a title=\"" + LONG_TEXT + "\">x</a>",
    "name-edges": "<br/><o:p>x</o:p><img/src=x><a\x0bhref=x><a\x0chref=y>",
    "high-bytes": "<p title=\"\xe9\xff\">\xc3\xa9\xff\xfe</p>",
    "tabs-newlines": "<\n\tp\n>\n<\na\nhref\n=\nx\n>y</a\n>",
    "many-lt": "<" * 300,
    "many-gt": ">" * 300,
    "mixed": "a<b>c<!--d-->e<script>f<g</script>h<style>i</style>j<a href=k onclick=l>m</a>",
    "empty": "",
}


def read_text(path):
    with open(path, "rb") as f:
        return f.read()


def e2e_inputs():
    """(configs, documents, pairs) from the end-to-end cases."""
    sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
    try:
        import run_case
    except ImportError:
        return {}, {}, {}
    configs, documents, pairs = {}, {}, {}
    case_dir = os.path.join(ROOT, "tests", "e2e", "cases")
    for name in sorted(os.listdir(case_dir)):
        if not name.endswith(".case"):
            continue
        stem = name[:-5]
        for index, (title, _line, sections) in enumerate(run_case.parse(os.path.join(case_dir, name))):
            cfg, doc = None, None
            for section in sections:
                if section.name == "file" and (section.arg.endswith(".cfg") or section.arg.endswith("tessel.cfg")):
                    cfg = section.content()
                elif section.name == "man-example":
                    cfg = run_case.man_example(os.path.join(ROOT, section.arg[1]), section.arg[2])
                elif section.name == "stdin" or (section.name == "file" and section.arg.endswith(".html")):
                    doc = section.content()
            key = "e2e-%s-%02d" % (stem, index)
            if cfg is not None:
                configs[key] = cfg
            if doc is not None:
                documents[key] = doc
            if cfg is not None and doc is not None:
                pairs[key] = (cfg, doc)
    return configs, documents, pairs


def vectors(path, count):
    """count payloads spread over the sources and the sizes of the file."""
    if not path or not os.path.exists(path):
        return {}
    by_source = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line:
                row = json.loads(line)
                by_source.setdefault(row.get("source", "other"), []).append(row)
    total = sum(len(rows) for rows in by_source.values())
    chosen = {}
    for source in sorted(by_source):
        rows = sorted(by_source[source], key=lambda r: (len(r["payload"]), r["id"]))
        take = max(2, round(count * len(rows) / total))
        for i in range(take):
            row = rows[(i * (len(rows) - 1)) // max(1, take - 1)]
            key = "vec-" + re.sub(r"[^A-Za-z0-9_-]", "_", row["id"])
            chosen[key] = row["payload"].encode("utf-8")
    return chosen


def both(cfg, doc):
    return struct.pack("<H", len(cfg)) + cfg + doc


def write_dir(target, seeds):
    out = os.path.join(HERE, "corpus", target)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    for name, data in sorted(seeds.items()):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    print("%-10s %4d seeds, %7d bytes" % (target, len(seeds), sum(len(d) for d in seeds.values())))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--vectors", help="JSON-lines file of attack payloads")
    parser.add_argument("--count", type=int, default=40, help="payloads to take (default 40)")
    args = parser.parse_args()

    enc = lambda s: s.encode("latin-1")
    examples = os.path.join(ROOT, "examples")
    example_cfgs = {"example-" + n[:-4]: read_text(os.path.join(examples, n))
                    for n in sorted(os.listdir(examples)) if n.endswith(".cfg")}
    page = read_text(os.path.join(examples, "page.html"))
    e2e_cfgs, e2e_docs, e2e_pairs = e2e_inputs()
    payloads = vectors(args.vectors, args.count)

    cfg_seeds = {"cfg-" + k: enc(v) for k, v in CFG.items()}
    cfg_seeds.update(example_cfgs)
    cfg_seeds.update(e2e_cfgs)

    doc_seeds = {"doc-" + k: enc(v) for k, v in DOC.items()}
    doc_seeds["example-page"] = page
    doc_seeds.update(e2e_docs)
    doc_seeds.update(payloads)

    strict = example_cfgs.get("example-tessel", b"DEFAULT: DROP\n")
    both_seeds = {}
    for name, cfg in sorted(example_cfgs.items()):
        both_seeds[name + "+page"] = both(cfg, page)
    for name, (cfg, doc) in e2e_pairs.items():
        both_seeds[name] = both(cfg, doc)
    small = {k: enc(v) for k, v in CFG.items() if len(v) < 200}
    docs = sorted(DOC.items())
    for i, (name, cfg) in enumerate(sorted(small.items())):
        doc_name, doc = docs[i % len(docs)]
        both_seeds["cfg-%s+doc-%s" % (name, doc_name)] = both(cfg, enc(doc))
    for i, (name, payload) in enumerate(sorted(payloads.items())):
        if i % 4 == 0:
            both_seeds["strict+" + name] = both(strict, payload)
    both_seeds["header-only"] = b"\x00\x00"
    both_seeds["one-byte"] = b"\x05"
    both_seeds["length-past-end"] = b"\xff\xff<b>: KEEP\n"
    both_seeds["no-config"] = b"\x00\x00<script>x</script><p>y</p>"

    write_dir("fuzz_cfg", cfg_seeds)
    write_dir("fuzz_scrub", doc_seeds)
    write_dir("fuzz_both", both_seeds)


if __name__ == "__main__":
    main()
