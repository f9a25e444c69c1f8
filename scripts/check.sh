#!/usr/bin/env bash
# Installs what is missing, builds tessel and runs every test: a release
# build, then the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the end-to-end cases under valgrind; the
# unit tests and end-to-end cases of a build with Debian's packaging flags
# and of one with clang; then each fuzz target for a minute
# (TESSEL_FUZZ_SECONDS changes that). Warnings are errors in every build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# What a fresh machine may lack, from Debian's packages.
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v python3 >/dev/null || need+=(python3)
command -v valgrind >/dev/null || need+=(valgrind)
command -v parallel >/dev/null || need+=(parallel)
command -v npm >/dev/null || need+=(nodejs npm)
command -v clang++ >/dev/null || command -v clang++-14 >/dev/null || need+=(clang-14)
[ -d /usr/lib/llvm-14/lib/clang ] && ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 \
  || need+=(libclang-rt-14-dev)
command -v groff >/dev/null || need+=(groff-base)
command -v dpkg-buildflags >/dev/null || need+=(dpkg-dev)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${need[@]}"
fi

# Every test must run here: a check that would report itself skipped for
# want of an optional tool (parse5) fails instead.
export TESSEL_REQUIRE_ALL_TESTS=1
# Warnings are errors here (fuzz/run_fuzz.sh reads this too), never by default.
export TESSEL_WERROR=ON

echo "== parse5 for the safe-mode checks"
npm ci --prefix tests/safe --no-audit --no-fund --loglevel=error
echo "== the SARIF validator"
npm ci --prefix tests/sarif --no-audit --no-fund --loglevel=error

echo "== release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTESSEL_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build (ASan + UBSan) and tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSEL_SANITIZE=ON -DTESSEL_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== end-to-end cases under valgrind (memory errors and leaks fail)"
TESSEL_E2E_WRAPPER="valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all --suppressions=$PWD/tests/valgrind.supp -q" \
  ctest --test-dir build -R '^e2e\.' --output-on-failure -j"$jobs"

# A distribution's package build: no build type of ours, the flags
# dpkg-buildflags gives (-O2, fortification, -ffile-prefix-map, hardening).
echo "== build with Debian's packaging flags, unit tests and end-to-end cases"
cmake -S . -B build-distro -DCMAKE_BUILD_TYPE=None -DTESSEL_WERROR=ON \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-distro -j"$jobs"
ctest --test-dir build-distro -L '^(unit|e2e)$' --output-on-failure -j"$jobs"

echo "== clang build, unit tests and end-to-end cases"
clang=$(command -v clang++ || command -v clang++-14)
clang_c=$(command -v clang || command -v clang-14)
cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$clang" -DCMAKE_C_COMPILER="$clang_c" \
  -DTESSEL_WERROR=ON >/dev/null
cmake --build build-clang -j"$jobs"
ctest --test-dir build-clang -L '^(unit|e2e)$' --output-on-failure -j"$jobs"

echo "== fuzz targets under libFuzzer, ASan and UBSan (${TESSEL_FUZZ_SECONDS:-60} s each)"
bash fuzz/run_fuzz.sh "${TESSEL_FUZZ_SECONDS:-60}"

echo "== all checks passed"
