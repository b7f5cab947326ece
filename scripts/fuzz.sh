#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz and runs each for
# SECONDS, one after another on one core, over a copy of its seed corpus
# fuzz/corpus/NAME/ (the repository's corpus does not grow).
#
#   scripts/fuzz.sh SECONDS [NAME...]     NAME: stream, settings, ... (all when none)
#
# Every input is held to a few milliseconds per kilobyte and a few megabytes:
# -timeout, -malloc_limit_mb and -rss_limit_mb below. A crash, sanitizer report,
# broken property, time-out or memory overrun is copied into
# fuzz/corpus/NAME/regress-<what>-<hash> (run again by every later run) and the
# script fails after the remaining targets ran. ZEVRIN_FUZZ_KEEP=DIR keeps the
# grown corpora in DIR/NAME.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh SECONDS [NAME...]}
shift
build=build-fuzz

if (($# > 0)); then
  names=("${@#fuzz_}")
else
  names=()
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    names+=("$name")
  done
fi

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(pwd)}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  "${launcher[@]}" -DZEVRIN_SANITIZE=ON -DZEVRIN_BUILD_FUZZ=ON -DZEVRIN_BUILD_QT=OFF \
  -DZEVRIN_BUILD_TESTS=OFF -DZEVRIN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "${ZEVRIN_FUZZ_JOBS:-1}" --target "${names[@]/#/fuzz_}"

# Files are read up to 64 KiB: large enough for superlinear work to show within
# the time-out (1 s for 64 KiB under the sanitizers: about 15 ms per KiB).
max_len() {
  case $1 in
    stream) echo 16384 ;;  # decoded six times over, in three formats
    archive) echo 4096 ;;  # a list of places to damage, not the file itself
    *) echo 65536 ;;
  esac
}

# 16 MB for one allocation, but libpcap takes up to 16 MiB for a pcapng block
# before finding that a damaged file does not hold it (a longer one it refuses).
malloc_limit_mb() {
  case $1 in
    capture) echo 17 ;;
    *) echo 16 ;;
  esac
}

# A small quarantine keeps the sanitizers' own memory out of the limit. The
# targets peak at 60 to 100 MB, most of it the sanitizers' and libFuzzer's;
# 256 MB in all and 16 MB for one allocation leave an input a few megabytes.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=()
for name in "${names[@]}"; do
  # The targets' scratch files go in it too, in memory where there is /dev/shm.
  work=$(mktemp -d -p "$([[ -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
  mkdir -p "$work/corpus" "$work/found"
  if [[ -d fuzz/corpus/$name ]]; then cp -r "fuzz/corpus/$name/." "$work/corpus/"; fi
  echo "== fuzz_$name for ${seconds} s"
  status=0
  TMPDIR=$work "./$build/bin/fuzz_$name" -max_total_time="$seconds" -max_len="$(max_len "$name")" \
    -timeout=1 -malloc_limit_mb="$(malloc_limit_mb "$name")" -rss_limit_mb=256 -print_final_stats=1 \
    -artifact_prefix="$work/found/" "$work/corpus" 2>"$work/log" || status=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log" || true
  echo "corpus: $(find "$work/corpus" -type f | wc -l) inputs, $(du -sb "$work/corpus" | cut -f1) bytes"
  if ((status != 0)); then
    tail -n 60 "$work/log"
    for found in "$work/found"/*; do
      [[ -e $found ]] || continue
      kept="fuzz/corpus/$name/regress-$(basename "$found")"
      mkdir -p "fuzz/corpus/$name"
      cp "$found" "$kept"
      echo "regression input: $kept"
    done
    failed+=("$name")
  fi
  if [[ -n ${ZEVRIN_FUZZ_KEEP:-} ]]; then
    mkdir -p "$ZEVRIN_FUZZ_KEEP/$name"
    cp -r "$work/corpus/." "$ZEVRIN_FUZZ_KEEP/$name/"
  fi
  rm -rf "$work"
done

if ((${#failed[@]} > 0)); then
  echo "fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing: no findings"
