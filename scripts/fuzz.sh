#!/bin/sh
# Builds the libFuzzer targets (fuzz preset: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time; fails on any
# finding. The committed seeds in fuzz/corpus/ are copied, never written.
#
#   scripts/fuzz.sh                  about a minute per target (CI)
#   FUZZ_SECONDS=3600 scripts/fuzz.sh   the longer run; findings land in build/fuzz/findings/
#   FUZZ_TARGETS="icmp_decode_fuzz" scripts/fuzz.sh   only some targets
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

seconds=${FUZZ_SECONDS:-50}
bv_build_preset fuzz fuzz_targets

targets=${FUZZ_TARGETS:-"command_line_fuzz input_file_fuzz icmp_decode_fuzz serial_settings_fuzz red_list_settings_fuzz"}
findings=build/fuzz/findings
mkdir -p "$findings"
# The files the targets write and read back; a target that ends by a
# finding leaves its file behind.
scratch=$(mktemp -d /dev/shm/bv-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export BV_FUZZ_SCRATCH="$scratch"
failed=""
for target in $targets; do
  program=build/fuzz/fuzz/$target
  if [ ! -x "$program" ]; then
    echo "=== $target: not built (no Qt?), skipped ==="
    continue
  fi
  work=build/fuzz/corpus/$target
  mkdir -p "$work"
  echo "=== $target: $seconds s ==="
  asan="detect_leaks=1:abort_on_error=1"
  limits="-rss_limit_mb=2048"
  if [ "$target" = red_list_settings_fuzz ]; then
    # Qt keeps caches for the process's life that the leak check would
    # report. A stored value may announce a block of many gigabytes; Qt
    # copes when the allocation fails, as it does outside the sanitizer.
    asan="detect_leaks=0:abort_on_error=1:allocator_may_return_null=1"
    limits="-rss_limit_mb=2048 -malloc_limit_mb=1048576"
  fi
  if ! ASAN_OPTIONS="$asan" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" QT_QPA_PLATFORM=offscreen \
      "$program" -max_total_time="$seconds" -timeout=10 $limits -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" "$work" "fuzz/corpus/$target" 2>"$findings/$target.log"; then
    tail -n 60 "$findings/$target.log"
    failed="$failed $target"
  else
    grep -E "^(Done|stat::number_of_executed_units|#[0-9]+.*DONE)" "$findings/$target.log" | tail -n 2 || true
  fi
done
if [ -n "$failed" ]; then
  echo "fuzz findings in:$failed (inputs in $findings)" >&2
  exit 1
fi
echo "=== fuzzing found nothing ==="
