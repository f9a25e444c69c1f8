#!/usr/bin/env python3
"""Many small documents: a process per fragment, --batch, the C interface,
the Python binding and Python's bleach, side by side in one run.

    /usr/bin/python3 bench/fragments.py            # Debian's Python has bleach
    /usr/bin/python3 bench/fragments.py --pages DIR --count 10000 --size 1024

Fragments are cut from real pages (the Rust documentation by default,
every *.html under --pages in sorted order): from each page's <body> on,
pieces of about --size bytes, each ending before a '<'. A second set
makes --large documents of --large-size bytes the same way. Each way
filters the same documents with examples/tessel.cfg (--config); bleach
gets the closest allowlist it can say (the same tags, attributes and URL
schemes, tags stripped, comments dropped). The ways run in rotation,
--reps rounds, and each figure is the median round's CPU time (user and
system, of the process or of the child processes) per document: wall
clock on a machine shared with other work says more about the other
work. The process-per-fragment figure is timed on --process-count
fragments from a shell loop, bash's share included. Times are reported,
never checked.

Needs the build (--build, default build/) with tessel, libtessel.so and
bench/api_bench; bleach is optional (apt-get install python3-bleach).
"""
import argparse
import glob
import json
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import resource
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUST_DOCS = "share/doc/rust/html"

BLEACH_TAGS = {
    "b", "i", "u", "s", "em", "strong", "small", "sub", "sup", "mark", "del", "ins", "code", "kbd", "samp", "var",
    "q", "cite", "abbr", "dfn", "span", "br", "wbr", "p", "div", "pre", "blockquote", "hr", "h1", "h2", "h3", "h4",
    "h5", "h6", "ul", "ol", "li", "dl", "dt", "dd", "table", "caption", "thead", "tbody", "tfoot", "tr", "th", "td",
    "a", "img",
}
BLEACH_ATTRIBUTES = {
    "*": ["title"], "ol": ["title", "start"], "th": ["title", "colspan", "rowspan", "scope"],
    "td": ["title", "colspan", "rowspan"], "a": ["href", "title"],
    "img": ["src", "alt", "title", "width", "height"],
}
BLEACH_PROTOCOLS = {"http", "https", "mailto", "ftp", "tel"}


def default_pages():
    try:
        sysroot = subprocess.run(["rustc", "--print", "sysroot"], capture_output=True, text=True).stdout.strip()
    except OSError:
        return None
    path = os.path.join(sysroot, RUST_DOCS)
    return path if os.path.isdir(path) else None


def cut(pages, count, size):
    """count pieces of about size bytes from the pages' bodies."""
    pieces = []
    for path in pages:
        with open(path, "rb") as f:
            data = f.read()
        body = data.find(b"<body")
        at = body if body >= 0 else 0
        while at + size <= len(data) and len(pieces) < count:
            end = data.find(b"<", at + size)
            if end < 0 or end - at > size + size // 4:
                end = at + size
            pieces.append(data[at:end])
            at = end
        if len(pieces) >= count:
            break
    return pieces


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def child_time(function):
    """The CPU time of the processes function runs."""
    start = children_cpu()
    function()
    return children_cpu() - start


def own_time(function):
    start = time.process_time()
    function()
    return time.process_time() - start


def per_process(tessel, cfg, docs, tmp):
    names = []
    for n, doc in enumerate(docs):
        name = os.path.join(tmp, f"p{n:05d}.html")
        with open(name, "wb") as f:
            f.write(doc)
        names.append(name)
    with open(os.path.join(tmp, "list"), "w") as f:
        f.write("\n".join(names) + "\n")
    script = f'while read -r f; do "{tessel}" -f "{cfg}" < "$f" > /dev/null 2>&1; done < "{tmp}/list"'
    return lambda: child_time(lambda: subprocess.run(["bash", "-c", script], check=True)) / len(docs)


def batch(tessel, cfg, docs, tmp):
    name = os.path.join(tmp, "in.jsonl")
    with open(name, "wb") as f:
        for n, doc in enumerate(docs):
            html = doc.decode("utf-8", "surrogateescape")
            f.write(json.dumps({"id": n, "html": html}).encode("utf-8", "surrogateescape") + b"\n")

    def run():
        with open(name, "rb") as stdin:
            subprocess.run([tessel, "--batch", "-f", cfg], stdin=stdin, stdout=subprocess.DEVNULL, check=True)

    return lambda: child_time(run) / len(docs)


def c_api(api_bench, cfg, docs, tmp, findings=False):
    name = os.path.join(tmp, "fragments.bin")
    with open(name, "wb") as f:
        for doc in docs:
            f.write(struct.pack("<I", len(doc)) + doc)
    args = [api_bench, cfg, name, "1"] + (["findings"] if findings else [])
    return lambda: float(subprocess.run(args, capture_output=True, text=True, check=True).stdout.split()[0]) / 1e9


def binding(cfg, docs, as_str=False):
    import tessel
    policy = tessel.Policy.from_file(cfg)
    items = [d.decode("utf-8", "surrogateescape") for d in docs] if as_str else docs
    clean = policy.clean

    def run():
        for doc in items:
            clean(doc)

    return lambda: own_time(run) / len(docs)


def bleach_time(docs):
    try:
        import bleach
    except ImportError:
        return None
    items = [d.decode("utf-8", "replace") for d in docs]
    cleaner = bleach.sanitizer.Cleaner(tags=BLEACH_TAGS, attributes=BLEACH_ATTRIBUTES, protocols=BLEACH_PROTOCOLS,
                                       strip=True, strip_comments=True)

    def run():
        for doc in items:
            cleaner.clean(doc)

    return lambda: own_time(run) / len(docs)


def show(label, seconds, c_seconds):
    if seconds is None:
        print(f"  {label:<28} (not run)")
        return
    ratio = seconds / c_seconds
    print(f"  {label:<28} {seconds * 1e6:10.1f} µs   {ratio:8.2f}x the C API   {seconds / 1e-6 - c_seconds / 1e-6:+9.1f} µs")


def run_set(title, docs, args, tools, tmp, process_count):
    tessel, api_bench, cfg = tools
    total = sum(map(len, docs))
    print(f"{title}: {len(docs)} documents, {total / len(docs):.0f} bytes on average")
    ways = []
    if process_count:
        ways.append((f"process per document ({process_count})", per_process(tessel, cfg, docs[:process_count], tmp)))
    ways.append(("tessel --batch", batch(tessel, cfg, docs, tmp)))
    ways.append(("C API (tessel_filter)", c_api(api_bench, cfg, docs, tmp)))
    ways.append(("C API with findings", c_api(api_bench, cfg, docs, tmp, findings=True)))
    ways.append(("Python binding, bytes", binding(cfg, docs)))
    ways.append(("Python binding, str", binding(cfg, docs, as_str=True)))
    bleach_docs = docs[: args.bleach_count] if args.bleach_count else docs
    bleach_way = bleach_time(bleach_docs)
    ways.append((f"bleach ({len(bleach_docs)})", bleach_way))
    times = {label: [] for label, _ in ways}
    for _ in range(args.reps):
        for label, way in ways:
            if way is not None:
                times[label].append(way())
    rows = {label: statistics.median(t) if t else None for label, t in times.items()}
    c = rows["C API (tessel_filter)"]
    for label, seconds in rows.items():
        show(label, seconds, c)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--config", default=os.path.join(ROOT, "examples", "tessel.cfg"))
    parser.add_argument("--pages", default=None)
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--size", type=int, default=1024)
    parser.add_argument("--large", type=int, default=100)
    parser.add_argument("--large-size", type=int, default=100 * 1024)
    parser.add_argument("--process-count", type=int, default=1000)
    parser.add_argument("--bleach-count", type=int, default=0, help="bleach on only the first N (0: all)")
    parser.add_argument("--reps", type=int, default=5)
    args = parser.parse_args()

    pages_dir = args.pages or default_pages()
    if pages_dir is None:
        sys.exit("no pages: give --pages DIR (a tree of *.html), or install the Rust documentation")
    pages = sorted(glob.glob(os.path.join(pages_dir, "**", "*.html"), recursive=True))
    library = os.path.join(args.build, "libtessel.so")
    os.environ.setdefault("TESSEL_LIBRARY", library)
    sys.path.insert(0, os.path.join(ROOT, "python"))
    tools = (os.path.join(args.build, "tessel"), os.path.join(args.build, "bench", "api_bench"), args.config)
    for tool in tools[:2] + (os.environ["TESSEL_LIBRARY"],):
        if not os.path.exists(tool):
            sys.exit(f"missing {tool}: build first (cmake --build {args.build})")
    print(f"{os.cpu_count()} processors; Python {sys.version.split()[0]}; pages from {pages_dir}")
    with tempfile.TemporaryDirectory() as tmp:
        small = run_set("fragments", cut(pages, args.count, args.size), args, tools, tmp, args.process_count)
        large = run_set("large documents", cut(pages, args.large, args.large_size), args, tools, tmp, 0)
    c = small["C API (tessel_filter)"]
    print("fragments, against the targets:")
    print(f"  Python binding (bytes) - C API: {(small['Python binding, bytes'] - c) * 1e6:.1f} µs (target: within 10)")
    bleach_row = [v for k, v in small.items() if k.startswith("bleach")][0]
    if bleach_row is not None:
        print(f"  bleach / Python binding (str): {bleach_row / small['Python binding, str']:.0f}x (target: 50x or more)")
    print(f"  --batch / C API: {small['tessel --batch'] / c:.2f}x (target: 2x or less)")
    print(f"  large documents, --batch / C API: {large['tessel --batch'] / large['C API (tessel_filter)']:.2f}x")


if __name__ == "__main__":
    main()
