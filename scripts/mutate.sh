#!/usr/bin/env bash
# Mutation testing by hand: puts one realistic fault at a time into the sources,
# builds, runs the tests and tells which faults no test noticed.
#
#   scripts/mutate.sh [--build DIR] [--list FILE] [--only REGEX]
#                     [--tests REGEX] [--exclude REGEX] [--jobs N]
#                     [--timeout S] [--report FILE] [--slow REGEX] [--check]
#
# For each mutant of the list (scripts/mutants.txt; its head explains the
# format) the script replaces one exact text in one file, builds DIR, runs the
# tests and puts the file back byte for byte from a copy (never from git, so
# uncommitted work survives), also on Ctrl-C. A mutant is
#   killed        a test failed (or timed out),
#   survived      every test passed: a fault the suite does not catch,
#   did-not-build the mutant does not compile: fix the list,
#   stale         its text is not in the file exactly once: fix the list.
# Only killed and survived mutants count in the score. The exit status is 0 when
# every mutant was killed.
# --check only looks that every text of the list is in its file exactly once.
#
# The tests run in two rounds, each stopping at the first failure: the quick
# ones, then, only when they all pass, the slow ones that start whole programs
# (--slow REGEX, matched against test names, chooses them). Before the first
# mutant the unchanged tree is built and its tests run once: a run whose tests
# fail already is pointless, and the script stops.
#
# Takes a while: every mutant is a build and a test run (a survivor runs the
# whole selection). Run it on a build dir configured as usual, e.g.
#   scripts/mutate.sh --build build --jobs 2
set -u

cd "$(dirname "$0")/.." || exit 2
ROOT=$(pwd)

BUILD=build
LIST=scripts/mutants.txt
ONLY=
TESTS=
EXCLUDE=
JOBS=2
TIMEOUT=120
REPORT=
CHECK_ONLY=
SLOW='^(ReliabilityTest|LiveToolTest|StationWindowTest|ShareAppTest|DecodeShareTest|PipeAndTcp/)'

usage() {
  awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
  exit "${1:-2}"
}

while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD=$2; shift 2 ;;
    --list) LIST=$2; shift 2 ;;
    --only) ONLY=$2; shift 2 ;;
    --tests) TESTS=$2; shift 2 ;;
    --exclude) EXCLUDE=$2; shift 2 ;;
    --jobs) JOBS=$2; shift 2 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    --report) REPORT=$2; shift 2 ;;
    --slow) SLOW=$2; shift 2 ;;
    --check) CHECK_ONLY=1; shift ;;
    -h|--help) usage 0 ;;
    *) echo "mutate.sh: unknown argument '$1'" >&2; usage 2 ;;
  esac
  # An option given last without its value leaves $2 unset: caught by set -u.
done

case "$BUILD" in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
case "$LIST" in /*) ;; *) LIST=$ROOT/$LIST ;; esac
[ -n "$REPORT" ] || REPORT=$BUILD/mutation-report.txt
case "$REPORT" in /*) ;; *) REPORT=$ROOT/$REPORT ;; esac
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  echo "mutate.sh: $BUILD is no configured build dir" >&2
  exit 2
fi
[ -f "$LIST" ] || { echo "mutate.sh: no list $LIST" >&2; exit 2; }

WORK=$BUILD/mutate
SAVED=$WORK/saved
LOGS=$WORK/logs
mkdir -p "$LOGS"

# A run killed hard (kill -9, a power cut) cannot put its file back: its copy is
# still here, and nothing starts before it is dealt with.
if [ -f "$SAVED/path" ]; then
  echo "mutate.sh: an earlier run left $(cat "$SAVED/path") mutated;" >&2
  echo "  its original is $SAVED/original. Put it back with" >&2
  echo "  cp '$SAVED/original' '$ROOT/$(cat "$SAVED/path")' && rm -r '$SAVED'" >&2
  exit 2
fi

# --- the list ------------------------------------------------------------------

# perl: `check LIST` prints "line<TAB>name<TAB>file" for every mutant, or fails on
# a malformed line; `apply LIST LINE` makes the mutant of that line in its file
# (exit 3 and a reason when its text is not there exactly once).
read -r -d '' PERL_LIST <<'PERL'
use strict;
use warnings;
sub unescape {
  my ($text, $where) = @_;
  my %map = ("\\" => "\\", "t" => "\t", "n" => "\n");
  $text =~ s{\\(.?)}{
    exists $map{$1} ? $map{$1} : die "$where: unknown escape '\\$1' (use \\\\, \\t or \\n)\n"
  }gse;
  return $text;
}
sub parse {
  my ($line, $where) = @_;
  my @f = split /\t/, $line, -1;
  die "$where: want name<TAB>file<TAB>from<TAB>to, got " . scalar(@f) . " fields\n" if @f != 4;
  my ($name, $file, $from, $to) = @f;
  die "$where: bad name '$name'\n" unless $name =~ /^[A-Za-z0-9_.:-]+$/;
  die "$where: empty from\n" if $from eq '';
  ($from, $to) = (unescape($from, $where), unescape($to, $where));
  die "$where: from and to are the same\n" if $from eq $to;
  return ($name, $file, $from, $to);
}
sub slurp {
  my ($file) = @_;
  open(my $src, "<:raw", $file) or return undef;
  local $/;
  my $text = <$src>;
  return $text;
}
sub occurrences {
  my ($file, $from) = @_;
  my $text = slurp($file);
  return 0 unless defined $text;
  my $count = 0;
  for (my $p = index($text, $from); $p >= 0; $p = index($text, $from, $p + 1)) { ++$count }
  return $count;
}
my ($mode, $list, $want) = @ARGV;
my $bad = 0;
open(my $in, '<', $list) or die "$list: $!\n";
my (%seen, $n);
while (my $line = <$in>) {
  ++$n;
  $line =~ s/\r?\n\z//;
  next if $line =~ /^\s*(#|$)/;
  my $where = "$list:$n";
  my ($name, $file, $from, $to) = parse($line, $where);
  if ($mode eq 'check') {
    die "$where: name $name used twice\n" if $seen{$name}++;
    print "$n\t$name\t$file\n";
    next;
  }
  if ($mode eq 'verify') {
    my $count = occurrences($file, $from);
    if ($count != 1) { print "$name: its text occurs $count times in $file\n"; $bad = 1 }
    next;
  }
  next unless $n == $want;
  my $count = occurrences($file, $from);
  if ($count != 1) { print "its text occurs $count times in $file\n"; exit 3 }
  my $text = slurp($file);
  my $at = index($text, $from);
  substr($text, $at, length $from) = $to;
  open(my $out, '>:raw', $file) or die "cannot write $file: $!\n";
  print $out $text;
  close $out or die "cannot write $file: $!\n";
  exit 0;
}
exit($mode eq "apply" ? 4 : $bad);
PERL

MUTANTS=$(perl -e "$PERL_LIST" check "$LIST") || exit 2
if [ -n "$CHECK_ONLY" ]; then
  perl -e "$PERL_LIST" verify "$LIST" || exit 1
  echo "$(printf "%s\n" "$MUTANTS" | grep -c .) mutants, each text found once"
  exit 0
fi

# --- putting files back --------------------------------------------------------

MUTATED=
restore() {
  [ -n "$MUTATED" ] || return 0
  # The same bytes in the same file (inode and mode kept). The build sees a newer
  # time and compiles the file again, as it must: its objects are the mutant's.
  cat "$SAVED/original" >"$ROOT/$MUTATED" || {
    echo "mutate.sh: cannot put $MUTATED back; its original is $SAVED/original" >&2
    exit 2
  }
  rm -r "$SAVED"
  MUTATED=
}
on_signal() {
  trap '' INT TERM
  echo >&2
  echo "mutate.sh: interrupted; putting the files back" >&2
  restore
  exit 130
}
trap restore EXIT
trap on_signal INT TERM

mutate() {  # line file
  mkdir -p "$SAVED"
  cp -p "$ROOT/$2" "$SAVED/original" || return 2
  printf '%s\n' "$2" >"$SAVED/path"
  MUTATED=$2
  local why
  if ! why=$(cd "$ROOT" && perl -e "$PERL_LIST" apply "$LIST" "$1"); then
    restore
    STALE_WHY=$why
    return 3
  fi
  return 0
}

# --- build and tests -----------------------------------------------------------

build() {  # log
  cmake --build "$BUILD" -j "$JOBS" </dev/null >"$1" 2>&1
}

# The selected tests, in two rounds: their numbers for ctest -I. The numbers are
# those of the whole list (a filtered list numbers its tests afresh).
QUICK=
SLOW_SET=
select_tests() {
  local args=(--test-dir "$BUILD" -N)
  [ -n "$TESTS" ] && args+=(-R "$TESTS")
  [ -n "$EXCLUDE" ] && args+=(-E "$EXCLUDE")
  local line name quick=() slow=()
  local -A number=()
  while IFS= read -r line; do
    [[ $line =~ Test\ +\#([0-9]+):\ (.*)$ ]] && number[${BASH_REMATCH[2]}]=${BASH_REMATCH[1]}
  done < <(ctest --test-dir "$BUILD" -N </dev/null)
  while IFS= read -r line; do
    [[ $line =~ Test\ +\#([0-9]+):\ (.*)$ ]] || continue
    name=${BASH_REMATCH[2]}
    [ -n "${number[$name]:-}" ] || continue
    if [[ $name =~ $SLOW ]]; then slow+=("${number[$name]}"); else quick+=("${number[$name]}"); fi
  done < <(ctest "${args[@]}" </dev/null)
  QUICK=$(IFS=,; echo "${quick[*]}")
  SLOW_SET=$(IFS=,; echo "${slow[*]}")
  QUICK_COUNT=${#quick[@]}
  SLOW_COUNT=${#slow[@]}
}

# Runs one round; 0 when every test passed. FAILED_TEST names the first failure.
FAILED_TEST=
run_round() {  # numbers log
  [ -n "$1" ] || return 0
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$BUILD" -I "0,0,0,$1" -j "$JOBS" \
    --timeout "$TIMEOUT" --stop-on-failure --output-on-failure </dev/null >"$2" 2>&1 && return 0
  FAILED_TEST=$(sed -En 's/^[[:space:]]*[0-9]+ - (.*) \(.*\)$/\1/p' "$2" | head -1)
  return 1
}

run_tests() {  # log-prefix
  FAILED_TEST=
  run_round "$QUICK" "$1.quick.log" || return 1
  run_round "$SLOW_SET" "$1.slow.log"
}

# --- the run -------------------------------------------------------------------

seconds() { date +%s; }
START=$(seconds)
: >"$REPORT"
say() { printf '%s\n' "$*" | tee -a "$REPORT"; }

say "mutation run $(date -u '+%Y-%m-%d %H:%M UTC') at $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null)$(git -C "$ROOT" diff --quiet 2>/dev/null || echo ' (with changes)')"
say "build $BUILD, list $LIST, jobs $JOBS, timeout ${TIMEOUT}s${ONLY:+, only /$ONLY/}${TESTS:+, tests /$TESTS/}${EXCLUDE:+, excluding /$EXCLUDE/}"

if ! build "$LOGS/baseline.build.log"; then
  say "the unchanged tree does not build: see $LOGS/baseline.build.log"
  exit 2
fi
select_tests
say "tests: $QUICK_COUNT quick, $SLOW_COUNT slow (/$SLOW/)"
if [ $((QUICK_COUNT + SLOW_COUNT)) -eq 0 ]; then
  say "no test selected"
  exit 2
fi
T0=$(seconds)
if ! run_tests "$LOGS/baseline"; then
  say "the unchanged tree fails ${FAILED_TEST:-a test}: see $LOGS/baseline.*.log"
  exit 2
fi
say "baseline: all pass in $(( $(seconds) - T0 ))s"

killed=0 survived=0 unbuilt=0 stale=0 total=0
survivors=() unbuilt_names=() stale_names=()
while IFS=$'\t' read -r -u 3 line name file; do
  if [ -n "$ONLY" ] && ! [[ $name =~ $ONLY ]]; then continue; fi
  total=$((total + 1))
  T0=$(seconds)
  STALE_WHY=
  if ! mutate "$line" "$file"; then
    stale=$((stale + 1)); stale_names+=("$name")
    say "$(printf '%-13s %-34s %s' stale "$name" "$STALE_WHY")"
    continue
  fi
  log=$LOGS/$name
  if ! build "$log.build.log"; then
    restore
    unbuilt=$((unbuilt + 1)); unbuilt_names+=("$name")
    say "$(printf '%-13s %-34s %4ss  see %s' did-not-build "$name" $(( $(seconds) - T0 )) "$log.build.log")"
    continue
  fi
  if run_tests "$log"; then
    result=survived; survived=$((survived + 1)); survivors+=("$name"); by=
  else
    result=killed; killed=$((killed + 1)); by="by ${FAILED_TEST:-?}"
  fi
  restore
  say "$(printf '%-13s %-34s %4ss  %s' "$result" "$name" $(( $(seconds) - T0 )) "$by")"
done 3<<<"$MUTANTS"

# The build dir matches the sources again.
build "$LOGS/final.build.log" || say "the final build of the unchanged tree failed: see $LOGS/final.build.log"

scored=$((killed + survived))
summary="killed $killed of $scored ($survived survived${survivors[*]:+: ${survivors[*]}})"
say ""
say "$summary"
[ "$unbuilt" -eq 0 ] || say "did not build ($unbuilt, fix the list): ${unbuilt_names[*]}"
[ "$stale" -eq 0 ] || say "stale ($stale, fix the list): ${stale_names[*]}"
say "$total mutants in $(( $(seconds) - START ))s; report in $REPORT, logs in $LOGS"
[ $((survived + unbuilt + stale)) -eq 0 ]
