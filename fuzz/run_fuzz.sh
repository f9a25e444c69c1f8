#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for a fixed time.
#
#   bash fuzz/run_fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS defaults to 60 per target; the targets default to all of them
# (fuzz_cfg fuzz_scrub fuzz_both fuzz_batch). Each target fuzzes fuzz/out/<target>
# (kept between runs, so long runs build on short ones; new inputs are
# written there) with the seed corpus fuzz/corpus/<target> read-only.
# Crash, leak and timeout inputs land in fuzz/out/artifacts/<target>/ and the
# full log in fuzz/out/<target>.log.
#
# Exit status 0 when every target ran its time without a finding, 1 when
# any found a crash, sanitizer report, leak, timeout or memory blow-up, or
# did not run. Needs cmake, clang++ (or clang++-14) and the clang runtime
# libraries (Debian: clang-14 libclang-rt-14-dev).
# FUZZ_EXTRA_ARGS adds libFuzzer options to every run (e.g. "-seed=1");
# TESSEL_WERROR=ON makes warnings errors, as scripts/check.sh does.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "run_fuzz.sh: SECONDS must be a positive whole number, not '$seconds'" >&2
  exit 2
fi
shift $(($# > 0 ? 1 : 0))
all_targets=(fuzz_cfg fuzz_scrub fuzz_both fuzz_batch)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=("${all_targets[@]}")
fi
for t in "${targets[@]}"; do
  case " ${all_targets[*]} " in
    *" $t "*) ;;
    *) echo "run_fuzz.sh: unknown target '$t' (known: ${all_targets[*]})" >&2; exit 2 ;;
  esac
done

cxx=""
for candidate in clang++ clang++-14; do
  if command -v "$candidate" >/dev/null 2>&1; then
    cxx=$(command -v "$candidate")
    break
  fi
done
if [ -z "$cxx" ]; then
  echo "run_fuzz.sh: clang++ not found (Debian: apt-get install clang-14 libclang-rt-14-dev)" >&2
  exit 1
fi
runtime_dir=$("$cxx" -print-runtime-dir 2>/dev/null || true)
if [ -n "$runtime_dir" ] && ! ls "$runtime_dir"/libclang_rt.fuzzer*.a >/dev/null 2>&1; then
  echo "run_fuzz.sh: warning: no libFuzzer runtime in $runtime_dir (Debian: libclang-rt-14-dev)" >&2
fi

build="build-fuzz"
jobs=$(nproc 2>/dev/null || echo 2)
echo "== building fuzz targets with $("$cxx" --version | head -n 1)"
# Optimised with debug information, and without NDEBUG.
if ! cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" -DTESSEL_LIBFUZZER=ON -DTESSEL_TESTS=OFF \
      -DTESSEL_WERROR="${TESSEL_WERROR:-OFF}" >/dev/null; then
  echo "run_fuzz.sh: configuring $build failed" >&2
  exit 1
fi
if ! cmake --build "$build" -j"$jobs" --target "${targets[@]}"; then
  echo "run_fuzz.sh: building the fuzz targets failed" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# shellcheck disable=SC2206
extra=(${FUZZ_EXTRA_ARGS:-})

failed=0
summary=()
for t in "${targets[@]}"; do
  max_len=65536
  if [ "$t" = fuzz_both ]; then
    max_len=$((2 + 65535 + 65536))  # length prefix, longest configuration, document
  fi
  corpus=fuzz/out/$t
  artifacts=fuzz/out/artifacts/$t
  log=fuzz/out/$t.log
  mkdir -p "$corpus" "$artifacts"
  echo "== $t: ${seconds}s (log: $log)"
  "$build/fuzz/$t" -max_total_time="$seconds" -dict=fuzz/tessel.dict -max_len="$max_len" \
    -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "${extra[@]}" "$corpus" "fuzz/corpus/$t" >"$log" 2>&1
  status=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$')
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$')
  execs=${execs:-?}
  if [ $status -ne 0 ]; then
    failed=1
    echo "!! $t failed (status $status); end of its log:"
    tail -n 60 "$log"
    echo "!! inputs saved in $artifacts/:"
    ls -l "$artifacts"
    summary+=("$(printf '%-11s FAILED (status %d) after %s executions' "$t" "$status" "$execs")")
  else
    summary+=("$(printf '%-11s ok  %12s executions  %8s/s  coverage %s  corpus %s' \
      "$t" "$execs" "${rate:-?}" "${cov:-?}" "$(find "$corpus" -type f | wc -l)")")
  fi
done

echo "== summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit $failed
