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

# The library: header, both archives, the pkg-config file, and a program
# built against the installed copy through pkg-config, linked both ways.
libdir=$(cd "$prefix" && dirname "$(ls -d lib*/libtessel.so.1 lib/*/libtessel.so.1 2>/dev/null | head -n 1)")
for f in include/tessel.h "$libdir/libtessel.a" "$libdir/libtessel.so" "$libdir/pkgconfig/tessel.pc" \
         share/man/man3/libtessel.3; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
# A sanitizer build's library needs the sanitizers' run-time in the
# program that loads it: programs of others are not built on it here.
sanitized=false
if nm -D "$prefix/$libdir/libtessel.so" 2>/dev/null | grep ' U __asan_' >/dev/null; then
  sanitized=true
fi
if ! $sanitized && command -v pkg-config >/dev/null && command -v cc >/dev/null; then
  use=$(dirname "$0")/lib/use_installed.c
  pc="$prefix/$libdir/pkgconfig"
  # The file names the configured prefix; here it is a temporary one.
  sed -i "s|^prefix=.*|prefix=$prefix|" "$pc/tessel.pc"
  cc "$use" -o "$prefix/use-shared" $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs tessel) \
     -Wl,-rpath,"$prefix/$libdir"
  [ "$("$prefix/use-shared")" = "<b>x</b>y" ] || { echo "the shared library gave a wrong result"; exit 1; }
  cc "$use" -o "$prefix/use-static" $(PKG_CONFIG_PATH=$pc pkg-config --cflags tessel) "$prefix/$libdir/libtessel.a" \
     $(PKG_CONFIG_PATH=$pc pkg-config --static --libs-only-l tessel | sed 's/-ltessel//')
  [ "$("$prefix/use-static")" = "<b>x</b>y" ] || { echo "the static library gave a wrong result"; exit 1; }
fi
# The Python package finds the installed library by itself.
package=$(find "$prefix" -path '*/tessel/__init__.py' | head -n 1)
if ! $sanitized && [ -n "$package" ] && command -v python3 >/dev/null; then
  got=$(env -u TESSEL_LIBRARY PYTHONPATH="$(dirname "$(dirname "$package")")" python3 -c \
        'import tessel; print(tessel.Policy("DEFAULT: DROP <b>: KEEP").clean("<b>x</b><i>y</i>"))')
  [ "$got" = "<b>x</b>y" ] || { echo "the installed Python package gave: $got"; exit 1; }
fi
echo "install ok"
