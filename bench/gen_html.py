#!/usr/bin/env python3
"""Deterministic generator of HTML benchmark inputs.

    gen_html.py KIND SIZE OUTFILE
    gen_html.py --list

KIND names what the input stresses (see KINDS below). SIZE is a byte count
with an optional suffix: K, M, G (powers of 1000) or Ki, Mi, Gi (powers of
1024), e.g. 5M, 50M, 500M. The file has exactly SIZE bytes, and the same
KIND and SIZE always give the same bytes (fixed seed, standard library only).

Speed comes from building a small pool of distinct blocks (about 64 KB each)
from randomised units, then writing a seeded random sequence of whole blocks;
a filler of plain text makes the size exact. Every block is balanced (tags,
comments, regions dropped whole), so the filler always lands outside them.
"""

import random
import sys

SEED = 20240601
BLOCK_TARGET = 64 * 1024
POOL_SIZE = 48

WORDS = (
    "the quick brown fox jumps over lazy dog lorem ipsum dolor sit amet "
    "consectetur adipiscing elit sed do eiusmod tempor incididunt ut labore "
    "et dolore magna aliqua enim ad minim veniam quis nostrud exercitation "
    "ullamco laboris nisi aliquip ex ea commodo consequat duis aute irure in "
    "reprehenderit voluptate velit esse cillum fugiat nulla pariatur excepteur "
    "sint occaecat cupidatat non proident sunt culpa qui officia deserunt "
    "mollit anim id est laborum performance filter stream markup document "
    "café naïve façade über smörgåsbord déjà-vu — “quoted” 東京 Ελλάδα"
).split()

ENTITIES = ("&amp;", "&lt;", "&gt;", "&quot;", "&nbsp;", "&#8212;", "&eacute;")

# ---- small helpers ----------------------------------------------------------


def words(rng, lo, hi):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(lo, hi)))


def sentence(rng, lo=6, hi=18):
    s = words(rng, lo, hi)
    if rng.random() < 0.15:
        s += " " + rng.choice(ENTITIES)
    return s[0].upper() + s[1:] + rng.choice(".!?.")


def paragraph_text(rng, lo=3, hi=8, eol="\n"):
    # Wrapped at sentence boundaries, as hand-written or templated HTML is.
    out = []
    for _ in range(rng.randint(lo, hi)):
        out.append(sentence(rng))
        out.append(eol if rng.random() < 0.4 else " ")
    return "".join(out)


def ident(rng, n=8):
    return "".join(rng.choice("abcdefghijklmnopqrstuvwxyz0123456789") for _ in range(n))


def url(rng):
    host = rng.choice(("example.com", "example.org", "cdn.example.net", "static.example.io"))
    path = "/".join(ident(rng, rng.randint(3, 10)) for _ in range(rng.randint(1, 4)))
    q = "" if rng.random() < 0.5 else "?id=%d&amp;ref=%s" % (rng.randint(1, 99999), ident(rng, 6))
    return "https://%s/%s%s" % (host, path, q)


def quoted(rng, value):
    # Double quotes mostly, some single quotes, some unquoted simple values.
    r = rng.random()
    if r < 0.75:
        return '"%s"' % value
    if r < 0.9 and "'" not in value:
        return "'%s'" % value
    if all(c.isalnum() or c in "-_./:" for c in value):
        return value
    return '"%s"' % value


def link_attrs(rng, count):
    pool = [
        ("href", url(rng)),
        ("title", words(rng, 2, 6)),
        ("class", " ".join("c-" + ident(rng, 5) for _ in range(rng.randint(1, 4)))),
        ("id", "a" + ident(rng)),
        ("rel", rng.choice(("noopener", "nofollow noopener", "external"))),
        ("target", rng.choice(("_blank", "_self", "_top"))),
        ("onclick", "track('%s', %d); return true;" % (ident(rng), rng.randint(0, 999))),
        ("onmouseover", "hover(this)"),
        ("style", "color:#%06x; text-decoration:none" % rng.randint(0, 0xFFFFFF)),
        ("data-track", ident(rng, 12)),
        ("data-pos", str(rng.randint(0, 100))),
        ("hreflang", rng.choice(("en", "de", "fr", "ja"))),
        ("lang", rng.choice(("en", "de", "fr"))),
        ("tabindex", str(rng.randint(-1, 9))),
        ("aria-label", words(rng, 1, 4)),
        ("download", None),
        ("referrerpolicy", "no-referrer"),
        ("ping", url(rng)),
    ]
    return pick_attrs(rng, pool, count, first="href")


def img_attrs(rng, count):
    pool = [
        ("src", url(rng) + ".jpg"),
        ("alt", words(rng, 2, 8)),
        ("title", words(rng, 1, 4)),
        ("width", str(rng.randint(16, 1920))),
        ("height", str(rng.randint(16, 1080))),
        ("class", "img " + ident(rng, 6)),
        ("id", "i" + ident(rng)),
        ("loading", "lazy"),
        ("decoding", "async"),
        ("style", "border:0; max-width:100%"),
        ("onerror", "this.src='/fallback.png'"),
        ("onload", "loaded(%d)" % rng.randint(0, 99)),
        ("srcset", "%s 1x, %s 2x" % (url(rng), url(rng))),
        ("sizes", "(max-width: 600px) 100vw, 50vw"),
        ("data-src", url(rng)),
        ("ismap", None),
        ("crossorigin", "anonymous"),
        ("usemap", "#m" + ident(rng, 4)),
    ]
    return pick_attrs(rng, pool, count, first="src")


def pick_attrs(rng, pool, count, first):
    head = [a for a in pool if a[0] == first]
    rest = [a for a in pool if a[0] != first]
    rng.shuffle(rest)
    chosen = head + rest[: max(0, count - 1)]
    parts = []
    for name, value in chosen:
        if rng.random() < 0.1:
            name = name.upper()
        if value is None:
            parts.append(name)
        else:
            parts.append("%s=%s" % (name, quoted(rng, value)))
    sep = rng.choice((" ", " ", " ", "\n    "))
    return sep.join(parts)


def js_body(rng, lines):
    # Script text with '<' comparisons and markup in strings, as real scripts
    # have; never "</" or "<!" except for the closing tag itself.
    out = []
    for _ in range(lines):
        v = ident(rng, 5)
        r = rng.random()
        if r < 0.25:
            out.append("  for (var i = 0; i < %s.length; i++) { total += %s[i]; }" % (v, v))
        elif r < 0.45:
            out.append("  if (a<b && b <= %d) { el.innerHTML = '<span class=\"%s\">' + x + '<\\/span>'; }"
                       % (rng.randint(0, 999), ident(rng, 4)))
        elif r < 0.6:
            out.append("  var %s = document.querySelectorAll(\"div > p, a[href^='http']\");" % v)
        elif r < 0.75:
            out.append("  // %s" % words(rng, 3, 10))
        elif r < 0.9:
            out.append("  %s = \"%s\";" % (v, words(rng, 2, 8)))
        else:
            out.append("  while (n-- > 0 && q<%d) q = q << 1;" % rng.randint(2, 64))
    return "\n".join(out)


def css_body(rng, rules):
    out = []
    for _ in range(rules):
        out.append(".%s > p, #%s a:hover { color: #%06x; margin: %dpx %dpx; }"
                   % (ident(rng, 6), ident(rng, 5), rng.randint(0, 0xFFFFFF),
                      rng.randint(0, 40), rng.randint(0, 40)))
    return "\n".join(out)


INLINE = ("b", "i", "em", "strong", "code", "span", "small", "mark", "abbr", "q", "u", "s")
BLOCKS = ("div", "p", "section", "article", "li", "td", "blockquote", "header", "footer", "nav")

# ---- one unit of each kind --------------------------------------------------


def unit_text_heavy(rng):
    # Long text runs and very few tags.
    body = paragraph_text(rng, 10, 30)
    if rng.random() < 0.3:
        t = rng.choice(INLINE)
        body += "<%s>%s</%s> " % (t, words(rng, 1, 4), t)
    return "<p>\n%s\n</p>\n" % body


def unit_tag_heavy(rng):
    # Short tags, little text between them: many pieces per byte.
    out = []
    for _ in range(rng.randint(20, 60)):
        r = rng.random()
        if r < 0.45:
            t = rng.choice(INLINE)
            out.append("<%s>%s</%s>" % (t, rng.choice(WORDS), t))
        elif r < 0.65:
            t = rng.choice(BLOCKS)
            out.append("<%s class=c%d>" % (t, rng.randint(0, 9)))
            out.append(rng.choice(WORDS))
            out.append("</%s>" % t)
        elif r < 0.8:
            out.append(rng.choice(("<br>", "<br />", "<hr>", "<wbr>", "<img src=a.png>", "<input type=text>")))
        elif r < 0.9:
            out.append("<li><a href=#%s>%s</a></li>" % (ident(rng, 3), rng.choice(WORDS)))
        else:
            out.append("<td>%d</td>" % rng.randint(0, 999))
        if rng.random() < 0.15:
            out.append("\n")
    return "<div>" + "".join(out) + "</div>\n"


def unit_many_attrs(rng):
    # Edited tags (<a>, <img>) with many attributes, as editing configs see.
    out = ["<p>"]
    for _ in range(rng.randint(3, 8)):
        if rng.random() < 0.55:
            out.append("<a %s>%s</a> " % (link_attrs(rng, rng.randint(6, 18)), words(rng, 1, 4)))
        else:
            out.append("<img %s> " % img_attrs(rng, rng.randint(6, 18)))
        if rng.random() < 0.3:
            out.append(words(rng, 2, 8) + "\n")
    out.append("</p>\n")
    return "".join(out)


def unit_comments(rng):
    # Comments of every size, declarations and conditional comments.
    r = rng.random()
    if r < 0.55:
        return "<!-- %s -->\n" % words(rng, 1, 12)
    if r < 0.8:
        return "<!--\n%s\n-->\n" % paragraph_text(rng, 5, 25)
    if r < 0.88:
        return "<!--[if lt IE 9]><script src=\"%s\"></script><![endif]-->\n" % url(rng)
    if r < 0.93:
        return "<!DOCTYPE html>\n"
    if r < 0.97:
        return "<!-- ==== %s ==== -->\n" % ident(rng, 10)
    return "<p>%s</p>\n" % sentence(rng)


def unit_script_body(rng):
    # Long script bodies: text in script mode, '<' that is not a tag.
    attrs = rng.choice(("", " type=\"text/javascript\"", " async src=\"%s\"" % url(rng), " defer"))
    return "<script%s>\n%s\n</script>\n" % (attrs, js_body(rng, rng.randint(20, 200)))


DROP_WHOLE = ("style", "iframe", "object", "noscript", "template", "svg", "textarea", "noembed")


def region(rng, depth):
    # A region dropped whole by a strict config, with nested dropped regions
    # (at most depth levels) and ordinary markup inside. Always balanced.
    t = rng.choice(DROP_WHOLE)
    out = ["<%s class=\"r%d\">" % (t, depth)]
    for _ in range(rng.randint(1, 4)):
        r = rng.random()
        if depth > 0 and r < 0.45:
            out.append(region(rng, depth - 1))
        elif r < 0.6:
            out.append("<script>%s</script>" % js_body(rng, rng.randint(1, 4)))
        elif r < 0.8:
            out.append("<div><p>%s</p><span>%s</span></div>" % (sentence(rng), words(rng, 1, 5)))
        elif r < 0.9:
            out.append("</div></p>")  # stray end tags of other elements
        else:
            out.append(css_body(rng, rng.randint(1, 3)))
        out.append("\n")
    out.append("</%s>" % t)
    return "".join(out)


def unit_nested_drop(rng):
    return "<p>%s</p>\n%s\n" % (sentence(rng), region(rng, rng.randint(1, 4)))


def unit_mixed(rng):
    # One slice of a realistic page; CRLF or LF line ends per slice.
    eol = "\r\n" if rng.random() < 0.35 else "\n"
    r = rng.random()
    out = []
    if r < 0.45:
        out.append("<article class=\"post\" id=\"p%s\">" % ident(rng, 6))
        out.append("<h2><a href=\"%s\" title=\"%s\">%s</a></h2>" % (url(rng), words(rng, 2, 5), sentence(rng, 3, 8)))
        for _ in range(rng.randint(2, 6)):
            text = paragraph_text(rng, 2, 6, eol)
            t = rng.choice(INLINE)
            cut = text.find(" ", rng.randint(0, len(text) // 2)) + 1
            text = text[:cut] + "<%s>%s</%s> " % (t, words(rng, 1, 4), t) + text[cut:]
            if rng.random() < 0.5:
                text += " <a %s>%s</a>" % (link_attrs(rng, rng.randint(2, 7)), words(rng, 1, 3))
            out.append("<p>%s</p>" % text)
        if rng.random() < 0.5:
            out.append("<figure><img %s><figcaption>%s</figcaption></figure>"
                       % (img_attrs(rng, rng.randint(3, 9)), sentence(rng, 3, 9)))
        out.append("</article>")
    elif r < 0.6:
        items = "".join("<li class=\"nav-item\"><a href=\"%s\">%s</a></li>%s" % (url(rng), words(rng, 1, 2), eol)
                        for _ in range(rng.randint(3, 10)))
        out.append("<nav><ul>%s%s</ul></nav>" % (eol, items))
    elif r < 0.7:
        out.append("<!-- %s -->" % words(rng, 2, 10))
        if rng.random() < 0.3:
            out.append("<!--[if IE]><link rel=\"stylesheet\" href=\"%s\"><![endif]-->" % url(rng))
    elif r < 0.8:
        out.append("<script>%s%s%s</script>" % (eol, js_body(rng, rng.randint(3, 30)), eol))
    elif r < 0.86:
        out.append("<style>%s%s%s</style>" % (eol, css_body(rng, rng.randint(2, 12)), eol))
    elif r < 0.94:
        rows = "".join("<tr><td>%s</td><td class=num>%d</td><td><b>%s</b></td></tr>%s"
                       % (words(rng, 1, 3), rng.randint(0, 99999), rng.choice(WORDS), eol)
                       for _ in range(rng.randint(2, 12)))
        out.append("<table class=\"data\"><thead><tr><th>a</th><th>b</th><th>c</th></tr></thead>%s<tbody>%s</tbody></table>"
                   % (eol, rows))
    else:
        out.append("<form action=\"%s\" method=post onsubmit=\"return check()\"><input type=text name=q value=\"\">"
                   "<button type=submit onclick=\"go()\">%s</button></form>" % (url(rng), rng.choice(WORDS)))
    out.append(eol)
    return "".join(out)


def unit_one_huge_tag(rng):
    # Attributes for the single tag (see generate()).
    return " " + (link_attrs(rng, rng.randint(6, 18)) if rng.random() < 0.5 else img_attrs(rng, rng.randint(6, 18)))


KINDS = {
    "text-heavy": unit_text_heavy,
    "tag-heavy": unit_tag_heavy,
    "many-attrs": unit_many_attrs,
    "comments": unit_comments,
    "script-body": unit_script_body,
    "nested-drop": unit_nested_drop,
    "one-huge-tag": unit_one_huge_tag,
    "mixed": unit_mixed,
}

HEADERS = {
    "mixed": ("<!DOCTYPE html>\r\n<html lang=\"en\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n"
              "<title>Benchmark page</title>\r\n<link rel=\"stylesheet\" href=\"/site.css\">\r\n"
              "</head>\r\n<body class=\"page\" onload=\"init()\">\r\n"),
    "one-huge-tag": "<div",
}
FOOTERS = {
    "mixed": "</body>\r\n</html>\r\n",
    "one-huge-tag": ">\n",
}
DEFAULT_HEADER = "<!DOCTYPE html>\n<html>\n<body>\n"
DEFAULT_FOOTER = "</body>\n</html>\n"

# ---- assembly ----------------------------------------------------------------


def make_pool(kind, rng):
    unit = KINDS[kind]
    pool = []
    for _ in range(POOL_SIZE):
        parts = []
        n = 0
        while n < BLOCK_TARGET:
            u = unit(rng).encode("utf-8")
            parts.append(u)
            n += len(u)
        pool.append(b"".join(parts))
    return pool


def filler(kind, n):
    # Exactly n bytes that are neutral where they land: plain text between
    # blocks, or an attribute inside the one huge tag.
    if n <= 0:
        return b""
    if kind == "one-huge-tag":
        if n < 5:
            return b" " * n
        return (b' f="' + b"x" * (n - 5) + b'"')
    line = b"filler text to make the size exact\n"
    return (line * (n // len(line) + 1))[:n]


def generate(kind, size, outfile):
    rng = random.Random("%s:%d" % (kind, SEED))
    header = HEADERS.get(kind, DEFAULT_HEADER).encode("utf-8")
    footer = FOOTERS.get(kind, DEFAULT_FOOTER).encode("utf-8")
    pool = make_pool(kind, rng)
    budget = size - len(header) - len(footer)
    with open(outfile, "wb", buffering=1 << 20) as f:
        if budget < 0:  # too small for the frame: plain text of the size
            f.write(filler("text", size))
            return
        f.write(header)
        written = 0
        while True:
            block = pool[rng.randrange(len(pool))]
            if written + len(block) > budget:
                break
            f.write(block)
            written += len(block)
        f.write(filler(kind, budget - written))
        f.write(footer)


def parse_size(text):
    t = text.strip()
    units = {"Ki": 1 << 10, "Mi": 1 << 20, "Gi": 1 << 30, "K": 10**3, "M": 10**6, "G": 10**9}
    for suffix in ("Ki", "Mi", "Gi", "K", "M", "G"):
        for s in (suffix, suffix.lower(), suffix + "B", suffix.lower() + "b"):
            if t.endswith(s) and t[: -len(s)].strip():
                return int(float(t[: -len(s)]) * units[suffix])
    return int(t)


def main(argv):
    if len(argv) == 2 and argv[1] == "--list":
        print("\n".join(KINDS))
        return 0
    if len(argv) != 4 or argv[1] not in KINDS:
        sys.stderr.write("usage: gen_html.py KIND SIZE OUTFILE   (gen_html.py --list for the kinds)\n"
                         "kinds: %s\n" % ", ".join(KINDS))
        return 2
    try:
        size = parse_size(argv[2])
    except ValueError:
        sys.stderr.write("gen_html.py: bad size %r (e.g. 5M, 50M, 500M, 64Ki, 12345)\n" % argv[2])
        return 2
    if size < 0:
        sys.stderr.write("gen_html.py: size must not be negative\n")
        return 2
    generate(argv[1], size, argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
