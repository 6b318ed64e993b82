#!/usr/bin/env bash
# Runs every fuzz target for SECONDS on a scratch copy of its seed corpus.
# Usage: tests/fuzz/run-fuzzers.sh BIN_DIR SECONDS [WORK_DIR]
# Exits non-zero when any target reports a finding (crash, leak, timeout, OOM) or is missing.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 BIN_DIR SECONDS [WORK_DIR]" >&2
  exit 2
fi
bin_dir=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
work=${3:-$(mktemp -d "${TMPDIR:-/tmp}/tessel-fuzz.XXXXXX")}
mkdir -p "$work"

targets="fuzz_package_index fuzz_base64 fuzz_launch_line fuzz_description fuzz_language_list"
failed=0
for t in $targets; do
  exe=$bin_dir/$t
  if [ ! -x "$exe" ]; then
    echo "MISSING $exe" >&2
    failed=1
    continue
  fi
  corpus=$work/$t/corpus
  artifacts=$work/$t/artifacts/
  rm -rf "$corpus" "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  cp "$here/corpus/$t/"* "$corpus/" 2>/dev/null || true
  echo "== $t for ${seconds}s (corpus $corpus)"
  # One job at a time keeps the CPU use to a single core.
  if ! "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
       -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus" >"$work/$t/log" 2>&1; then
    echo "FINDING in $t; log: $work/$t/log; artifacts:" >&2
    ls -l "$artifacts" >&2
    tail -n 60 "$work/$t/log" >&2
    failed=1
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$work/$t/log" | tail -n 2
  fi
done
[ "$failed" -eq 0 ] && echo "all fuzz targets clean" || echo "fuzzing found problems" >&2
exit "$failed"
