#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that the binary, the
# manual pages and the example configurations land where documented. (The
# manual pages' rendering is checked by tests of its own, with groff.)
set -euo pipefail
build=$1
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
echo "install ok"
