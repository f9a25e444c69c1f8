#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that the binary, the
# manual pages and the example configurations land where documented, and
# that the manual pages render without warnings.
set -euo pipefail
build=$1 src=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/tessel share/man/man1/tessel.1 share/man/man5/tessel.cfg.5 \
         share/doc/tessel/examples/tessel.cfg share/doc/tessel/examples/lint.cfg \
         share/doc/tessel/examples/strip-scripts.cfg; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ ! -e "$prefix/etc" ] || { echo "install must not write to etc"; exit 1; }
"$prefix/bin/tessel" -f "$prefix/share/doc/tessel/examples/tessel.cfg" </dev/null
if command -v groff >/dev/null; then
  for page in "$src/doc/tessel.1" "$src/doc/tessel.cfg.5"; do
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
  done
fi
echo "install ok"
