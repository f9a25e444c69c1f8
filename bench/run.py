#!/usr/bin/env python3
"""End-to-end benchmark runner for tessel (python3 standard library only).

For each input it runs, side by side and in rotation, tessel with the
pass-through configuration (bench/passthrough.cfg, and the same in safe
mode), examples/tessel.cfg (safe mode, and its classic twin) and
examples/lint.cfg, the reference copy loop (bench/copyloop.cpp), the
reference split loop (bench/splitloop.cpp: the floor of any filter that
hands each piece to a function) and cat, REPS times each, and prints a table: median wall time, MB/s (10^6 bytes per
second), ratio to the copy loop's and to the split loop's median (the floor
for tag-dense input), median CPU time (user + system) and peak resident memory (largest ru_maxrss over the repetitions).

Every command reads the input file as its standard input; standard output
and standard error go to /dev/null. Inputs come from bench/gen_html.py and
are cached in bench/out/ by kind and size (made again when the generator is
newer), or are every regular file of --dir, each timed as a run of its own
(start-up included); for more than a few files only their sum is shown.

    python3 bench/run.py --sizes 50M
    python3 bench/run.py --kinds mixed,tag-heavy --sizes 5M,50M --reps 7
    python3 bench/run.py --dir ~/pages
    python3 bench/run.py --dir ~/pages --config tests/safe/allowlist.cfg
    python3 bench/run.py --linearity --kinds mixed       # 5M, 50M, 500M

Times are reported, never checked: the exit status is 0 unless a command
could not be run or the setup is wrong.
"""

import argparse
import fcntl
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH_DIR)
OUT_DIR = os.path.join(BENCH_DIR, "out")
GENERATOR = os.path.join(BENCH_DIR, "gen_html.py")

sys.dont_write_bytecode = True
sys.path.insert(0, BENCH_DIR)
import gen_html  # noqa: E402  (same directory; for the kinds and sizes)

OUT_DIR = os.path.join(BENCH_DIR, "out")
STRICT = os.path.join(ROOT, "examples", "tessel.cfg")
STRICT_CLASSIC = os.path.join(OUT_DIR, "tessel-classic.cfg")

# examples/tessel.cfg runs in safe mode; its classic twin (the same file
# without the MODE statement) shows what safe mode costs under one policy.
CONFIGS = (
    ("tessel pass-through", os.path.join(BENCH_DIR, "passthrough.cfg")),
    ("tessel pass-through safe", os.path.join(BENCH_DIR, "passthrough-safe.cfg")),
    ("tessel tessel.cfg", STRICT),
    ("tessel tessel.cfg classic", STRICT_CLASSIC),
    ("tessel lint.cfg", os.path.join(ROOT, "examples", "lint.cfg")),
)


def write_strict_classic():
    """bench/out/tessel-classic.cfg: examples/tessel.cfg without MODE."""
    if not os.path.isfile(STRICT):
        return
    os.makedirs(OUT_DIR, exist_ok=True)
    with open(STRICT, encoding="latin-1") as f:
        lines = [line for line in f if not line.lstrip().upper().startswith("MODE")]
    with open(STRICT_CLASSIC, "w", encoding="latin-1") as f:
        f.writelines(lines)
COPY_LOOP = "copy loop"
SPLIT_LOOP = "split loop"


class Command:
    def __init__(self, label, argv):
        self.label = label
        self.argv = argv


def find_reference(build_dir, name):
    for candidate in (os.path.join(build_dir, "bench", name), os.path.join(build_dir, name)):
        if os.access(candidate, os.X_OK):
            return candidate
    return None


def find_tools(build_dir, extra_configs=()):
    tessel = os.path.join(build_dir, "tessel")
    copyloop = find_reference(build_dir, "copyloop")
    splitloop = find_reference(build_dir, "splitloop")
    missing = []
    if not os.access(tessel, os.X_OK):
        missing.append("tessel (%s)" % tessel)
    for name, path in (("copyloop", copyloop), ("splitloop", splitloop)):
        if path is None:
            missing.append("%s (%s/bench/%s)" % (name, build_dir, name))
    cat = shutil.which("cat")
    if cat is None:
        missing.append("cat (on PATH)")
    if missing:
        sys.exit("run.py: not found: %s\nbuild first: cmake --build %s --target tessel copyloop splitloop"
                 % (", ".join(missing), build_dir))
    commands = []
    write_strict_classic()
    extra = tuple(("tessel " + os.path.basename(cfg), cfg) for cfg in extra_configs)
    for label, cfg in CONFIGS + extra:
        if os.path.isfile(cfg):
            commands.append(Command(label, [tessel, "-f", cfg]))
        else:
            print("note: %s not found, %r skipped" % (cfg, label))
    commands.append(Command(COPY_LOOP, [copyloop]))
    commands.append(Command(SPLIT_LOOP, [splitloop]))
    commands.append(Command("cat", [cat]))
    return commands


# Peak RSS needs care: ru_maxrss of a process that the runner starts directly
# is at least the runner's own peak (exec records the size of the memory it
# replaces), which would hide everything under ~15 MiB. So a small sh forks
# the measured command; a fresh fork of a small process starts small. The
# runner is made a child subreaper, so the command is reparented to it when
# sh exits and it still reaps the command itself with os.wait4. The command
# waits for a "go" byte before its exec, so sh's start-up is not timed.
PR_SET_CHILD_SUBREAPER = 36
LAUNCHER = 'set -e; ( read go <&5; exec "$@" <&4 4<&- 5<&- ) 3>&- & echo $! >&3'
SH = "/bin/sh"


def make_subreaper():
    try:
        import ctypes
        libc = ctypes.CDLL(None, use_errno=True)
        return libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0 and os.access(SH, os.X_OK)
    except (OSError, AttributeError):
        return False


SUBREAPER = False


def high_pipe():
    # Both ends above the descriptors the launcher uses (0-5), close-on-exec.
    fds = []
    for fd in os.pipe():
        fds.append(fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10))
        os.close(fd)
    return fds


def run_once(argv, path):
    """Runs argv with path as standard input; (wall s, cpu s, maxrss KiB, exit code)."""
    if not SUBREAPER:
        actions = [
            (os.POSIX_SPAWN_OPEN, 0, path, os.O_RDONLY, 0),
            (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
            (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0),
        ]
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
        return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, os.waitstatus_to_exitcode(status)
    pid_r, pid_w = high_pipe()
    go_r, go_w = high_pipe()
    try:
        actions = [
            (os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
            (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
            (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0),
            (os.POSIX_SPAWN_DUP2, pid_w, 3),
            (os.POSIX_SPAWN_OPEN, 4, path, os.O_RDONLY, 0),
            (os.POSIX_SPAWN_DUP2, go_r, 5),
        ]
        sh = os.posix_spawn(SH, [SH, "-c", LAUNCHER, "sh"] + argv, os.environ, file_actions=actions)
        os.close(pid_w)
        pid_w = -1
        text = b""
        while not text.endswith(b"\n"):
            chunk = os.read(pid_r, 64)
            if not chunk:
                break
            text += chunk
        _, sh_status, _ = os.wait4(sh, 0)
        if os.waitstatus_to_exitcode(sh_status) != 0 or not text.strip().isdigit():
            sys.exit("run.py: could not start %s" % " ".join(argv))
        pid = int(text)
        try:
            start = time.perf_counter()
            os.write(go_w, b"\n")
            _, status, usage = os.wait4(pid, 0)
            wall = time.perf_counter() - start
        except BaseException:
            # Interrupted: end the command started here (it ignores SIGINT
            # as a background job of sh) and reap it.
            os.kill(pid, signal.SIGTERM)
            os.wait4(pid, 0)
            raise
    finally:
        for fd in (pid_r, pid_w, go_r, go_w):
            if fd >= 0:
                os.close(fd)
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, os.waitstatus_to_exitcode(status)


def warm_cache(path):
    with open(path, "rb", buffering=0) as f:
        while f.read(1 << 20):
            pass


def measure(commands, path, reps):
    """Runs every command reps times, in rotation; results keyed by label."""
    warm_cache(path)
    results = {c.label: {"wall": [], "cpu": [], "rss": 0, "status": set()} for c in commands}
    for _ in range(reps):
        for c in commands:
            wall, cpu, rss, status = run_once(c.argv, path)
            r = results[c.label]
            r["wall"].append(wall)
            r["cpu"].append(cpu)
            r["rss"] = max(r["rss"], rss)
            r["status"].add(status)
    return results


MAX_FILE_TABLES = 10


def add_results(a, b):
    """The results of two inputs as one: times added rotation by rotation."""
    return {label: {"wall": [x + y for x, y in zip(a[label]["wall"], b[label]["wall"])],
                    "cpu": [x + y for x, y in zip(a[label]["cpu"], b[label]["cpu"])],
                    "rss": max(a[label]["rss"], b[label]["rss"]),
                    "status": a[label]["status"] | b[label]["status"]} for label in a}


def fmt_rss(kib):
    if kib >= 10 * 1024:
        return "%.0f MiB" % (kib / 1024)
    return "%.1f MiB" % (kib / 1024)


def print_table(title, size, results, reps):
    print()
    print("%s  (%s bytes, %d reps)" % (title, format(size, ","), reps))
    header = ("command", "median s", "MB/s", "x copy", "x split", "cpu s", "peak RSS", "")
    rows = []
    base = results[COPY_LOOP]["wall"] if COPY_LOOP in results else None
    split = results[SPLIT_LOOP]["wall"] if SPLIT_LOOP in results else None
    for label, r in results.items():
        med = statistics.median(r["wall"])
        mbs = size / med / 1e6 if med > 0 else float("inf")
        # The ratio is taken within each rotation and the median of those
        # quoted: the machine's speed drifts less within one rotation than
        # across the whole run.
        ratio = "%.2f" % statistics.median(w / b for w, b in zip(r["wall"], base)) if base else "-"
        # The split loop is the floor for tag-dense input (tag-heavy).
        split_ratio = "%.2f" % statistics.median(w / b for w, b in zip(r["wall"], split)) if split else "-"
        bad = sorted(s for s in r["status"] if s != 0)
        note = "exit %s" % ",".join(map(str, bad)) if bad else ""
        rows.append((label, ("%.4f" if med < 0.1 else "%.3f") % med, ("%.0f" if mbs >= 100 else "%.1f") % mbs, ratio, split_ratio, ("%.4f" if med < 0.1 else "%.3f") % statistics.median(r["cpu"]),
                     fmt_rss(r["rss"]), note))
    widths = [max(len(str(x[i])) for x in rows + [header]) for i in range(len(header))]
    line = "  ".join("%-*s" if i == 0 else "%*s" for i in range(len(header)))
    print(line % tuple(v for pair in zip(widths, header) for v in pair))
    print("  ".join("-" * w for w in widths))
    for row in rows:
        print(line % tuple(v for pair in zip(widths, row) for v in pair))
    sys.stdout.flush()


def size_label(size):
    for unit, name in ((10**9, "G"), (10**6, "M"), (10**3, "K")):
        if size >= unit and size % unit == 0:
            return "%d%s" % (size // unit, name)
    return str(size)


def generated_input(kind, size):
    os.makedirs(OUT_DIR, exist_ok=True)
    path = os.path.join(OUT_DIR, "%s-%s.html" % (kind, size_label(size)))
    fresh = (os.path.isfile(path) and os.path.getsize(path) == size
             and os.path.getmtime(path) >= os.path.getmtime(GENERATOR))
    if not fresh:
        print("generating %s ..." % os.path.relpath(path, ROOT), flush=True)
        subprocess.run([sys.executable, GENERATOR, kind, str(size), path + ".tmp"], check=True)
        os.replace(path + ".tmp", path)
    return path


def parse_list(text, allowed=None, what="value"):
    items = [x.strip() for x in text.split(",") if x.strip()]
    if allowed is not None:
        for x in items:
            if x not in allowed:
                sys.exit("run.py: unknown %s %r (known: %s)" % (what, x, ", ".join(allowed)))
    return items


def parse_sizes(text):
    try:
        return [gen_html.parse_size(s) for s in parse_list(text)]
    except ValueError as e:
        sys.exit("run.py: bad size list %r: %s" % (text, e))


def empty_input():
    os.makedirs(OUT_DIR, exist_ok=True)
    path = os.path.join(OUT_DIR, "empty.html")
    with open(path, "wb"):
        pass
    return path


def linearity(commands, kind, sizes, reps):
    """Per-byte cost of each command at each size, and its spread.

    Each command is also timed on an empty input: that start-up time (exec,
    dynamic linking, configuration) is the same at every size, so the cost
    per byte is given net of it; the raw spread is shown beside it."""
    startup = measure(commands, empty_input(), reps)
    per_size = []
    for size in sizes:
        path = generated_input(kind, size)
        results = measure(commands, path, reps)
        print_table("%s, %s" % (kind, size_label(size)), size, results, reps)
        per_size.append((size, results))
    print()
    print("linearity: %s, cost per byte in ns, net of start-up (median of %d reps; min-max over the reps)"
          % (kind, reps))
    heads = (["command", "start-up ms"] + [size_label(s) for s in sizes]
             + ["spread", "raw spread", "peak RSS by size"])
    rows = []

    def spread(values):
        return (max(values) - min(values)) / min(values) * 100 if min(values) > 0 else float("inf")

    for c in commands:
        base = statistics.median(startup[c.label]["wall"])
        net, raw, rss = [], [], []
        cells = [c.label, "%.2f" % (base * 1e3)]
        for size, results in per_size:
            walls = results[c.label]["wall"]
            med = statistics.median(walls)
            net.append((med - base) / size * 1e9)
            raw.append(med / size * 1e9)
            cells.append("%.3f (%.3f-%.3f)" % (net[-1], (min(walls) - base) / size * 1e9,
                                              (max(walls) - base) / size * 1e9))
            rss.append(fmt_rss(results[c.label]["rss"]))
        cells += ["%.1f%%" % spread(net), "%.1f%%" % spread(raw), " / ".join(rss)]
        rows.append(cells)
    widths = [max(len(r[i]) for r in rows + [heads]) for i in range(len(heads))]
    print("  ".join(h.ljust(w) for h, w in zip(heads, widths)))
    print("  ".join("-" * w for w in widths))
    for r in rows:
        print("  ".join(v.ljust(w) for v, w in zip(r, widths)))
    print("spread: (largest - smallest) / smallest of the per-byte medians across the sizes;"
          " raw: without subtracting the start-up time")


def main():
    kinds = list(gen_html.KINDS)
    ap = argparse.ArgumentParser(description="Times tessel against a copy loop and cat.")
    ap.add_argument("--build", default=os.path.join(ROOT, "build"),
                    help="build directory holding tessel, bench/copyloop and bench/splitloop (default: build)")
    ap.add_argument("--sizes", default=None,
                    help="comma-separated input sizes, e.g. 5M,50M (default 50M; 5M,50M,500M with --linearity)")
    ap.add_argument("--kinds", default=None,
                    help="comma-separated input kinds (default: all; mixed with --linearity): " + ", ".join(kinds))
    ap.add_argument("--reps", type=int, default=5, help="repetitions per command (default 5)")
    ap.add_argument("--dir", default=None, help="time every regular file in this directory instead")
    ap.add_argument("--config", action="append", default=[], metavar="FILE",
                    help="also time tessel with this configuration (may be given again)")
    ap.add_argument("--linearity", action="store_true",
                    help="per-byte cost of one kind at several sizes and its spread")
    args = ap.parse_args()
    if args.reps < 1:
        sys.exit("run.py: --reps must be at least 1")

    global SUBREAPER
    SUBREAPER = make_subreaper()
    if not SUBREAPER:
        print("note: cannot become a child subreaper: peak RSS includes the runner's own (~15 MiB)")
    for cfg in args.config:
        if not os.path.isfile(cfg):
            sys.exit("run.py: --config %s: not a file" % cfg)
    commands = find_tools(os.path.abspath(args.build), args.config)
    print("commands (stdin: the input, stdout and stderr: %s):" % os.devnull)
    for c in commands:
        print("  %-20s %s" % (c.label, " ".join(os.path.relpath(a, ROOT) if os.path.isabs(a) and
                                                   a.startswith(ROOT) else a for a in c.argv)))

    if args.linearity:
        chosen = parse_list(args.kinds, kinds, "kind") if args.kinds else ["mixed"]
        if len(chosen) != 1:
            sys.exit("run.py: --linearity takes one kind")
        linearity(commands, chosen[0], parse_sizes(args.sizes or "5M,50M,500M"), args.reps)
        return 0

    if args.dir:
        files = sorted(os.path.join(args.dir, f) for f in os.listdir(args.dir)
                       if os.path.isfile(os.path.join(args.dir, f)))
        if not files:
            sys.exit("run.py: no files in %s" % args.dir)
        # Each file is its own run, start-up included, as when tessel filters
        # one document at a time. Past a few files, only their sum is shown:
        # the times of each rotation added up over all files.
        total = None
        for path in files:
            results = measure(commands, path, args.reps)
            if len(files) <= MAX_FILE_TABLES:
                print_table(os.path.basename(path), os.path.getsize(path), results, args.reps)
            total = results if total is None else add_results(total, results)
        if len(files) > 1:
            print_table("all %d files of %s" % (len(files), args.dir), sum(map(os.path.getsize, files)), total,
                        args.reps)
        return 0

    for size in parse_sizes(args.sizes or "50M"):
        for kind in parse_list(args.kinds, kinds, "kind") if args.kinds else kinds:
            path = generated_input(kind, size)
            print_table("%s, %s" % (kind, size_label(size)), size, measure(commands, path, args.reps), args.reps)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(130)
