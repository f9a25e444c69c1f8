#!/usr/bin/env bash
# Times linting a whole tree of pages: tessel's check mode with -j 0 and
# with one process, the xargs recipe, and html-validate and HTMLHint with
# two comparable rules each, on the whole tree and on its first SUBSET
# pages in sorted order (1000; the other linters take many minutes on the
# whole tree).
# Not run by the tests. Each command runs once to warm the cache, then
# RUNS times (5; OTHER_RUNS, 3, for the other linters); the median
# wall-clock time is printed.
#
# Usage: bench/tree.sh [TESSEL] [TREE]
#   TESSEL  the binary (build/tessel)
#   TREE    the pages ($(rustc --print sysroot)/share/doc/rust/html, the
#           HTML documentation installed with the Rust toolchain)
# LINTERS is where html-validate and HTMLHint are installed from npm
# (/tmp/linters, outside the source tree; installed there when missing).
# FULL_OTHERS=1 times the other linters on the whole tree too.
set -euo pipefail
cd "$(dirname "$0")/.."
tessel=$(realpath "${1:-build/tessel}")
tree=${2:-$(rustc --print sysroot)/share/doc/rust/html}
linters=${LINTERS:-/tmp/linters}
runs=${RUNS:-5}
other_runs=${OTHER_RUNS:-3}
subset_size=${SUBSET:-1000}
cfg=$PWD/examples/lint.cfg

if [ ! -x "$linters/node_modules/.bin/html-validate" ] || [ ! -x "$linters/node_modules/.bin/htmlhint" ]; then
  mkdir -p "$linters"
  npm install --prefix "$linters" --no-audit --no-fund --loglevel=error html-validate htmlhint
fi
# html-validate with no preset: only the deprecated elements and the
# style attribute. HTMLHint: obsolete tags and inline scripts (on*
# handlers, javascript: URLs). tessel's lint.cfg reports obsolete tags and
# on* handlers.
printf '{"rules": {"deprecated": "error", "no-inline-style": "error"}}\n' > "$linters/html-validate.json"
validate=("$linters/node_modules/.bin/html-validate" --config "$linters/html-validate.json")
hint=("$linters/node_modules/.bin/htmlhint" --rules tag-no-obsolete,inline-script-disabled)

subset=$(mktemp -d)
trap 'rm -rf "$subset"' EXIT
(cd "$tree" && find . -name '*.html' -print0 | LC_ALL=C sort -z | head -z -n "$subset_size" | xargs -0 cp --parents -t "$subset")

# Prints the median of COUNT wall-clock times of a command, after one run
# that is not counted; its output is thrown away.
time_it() {
  local count=$1 label=$2 times=()
  shift 2
  "$@" >/dev/null 2>&1 || true
  for _ in $(seq "$count"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
  done
  printf '%-44s %8.2f s\n' "$label" "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((count + 1) / 2))p")"
}

xargs_recipe() {
  find "$1" -name '*.html' -print0 | xargs -0 -P "$(nproc)" "$tessel" -c -q -f "$cfg"
}

echo "$(nproc) processors; $(find "$tree" -name '*.html' | wc -l) pages in $tree"
for where in "$tree" "$subset"; do
  [ "$where" = "$subset" ] && echo "first $subset_size pages:" || echo "whole tree:"
  time_it "$runs" "  tessel -c -q -j 0" "$tessel" -c -q -j 0 -f "$cfg" "$where"
  time_it "$runs" "  tessel -c -q (one process)" "$tessel" -c -q -f "$cfg" "$where"
  time_it "$runs" "  find | xargs -P $(nproc) tessel -c -q" xargs_recipe "$where"
  if [ "$where" = "$subset" ] || [ -n "${FULL_OTHERS:-}" ]; then
    time_it "$other_runs" "  html-validate (2 rules)" "${validate[@]}" "$where"
    time_it "$other_runs" "  htmlhint (2 rules)" "${hint[@]}" "$where"
  fi
done
