#!/usr/bin/env bash
# Plants the project's known faults one at a time and checks that a test catches each:
#   Tests/Guards/plant.sh [NAME...]     every entry of Tests/Guards/*.guards, or only those named
#
# Each entry names a file, a text that occurs in it exactly once and what replaces it (the fault),
# the targets to build and the tests that must fail with the fault in place. The faults are planted
# in a copy of the tree (never in the working tree), built in the copy's own debug build folder
# (build/guards/tree-1/build/dev, kept between runs so that the next run rebuilds only what changed;
# the compiler cache is shared with the other builds) and taken out again; the copy's sources are
# removed however the run ends. Entries run side by side, each share in a copy of its own (tree-2,
# ... made from tree-1 once it is built): TW_GUARD_WORKERS of them, by default one for each two
# processors (two at least, six at most: most of an entry's time is a test waiting). Each copy is seen at the same path, build/guards/tree, in a mount namespace of its
# own, so one build serves them all; where no such namespace can be made (not root) one copy runs
# every entry, at build/guards/tree-1.
#
# Before any fault is planted, the chosen entries' tests run once without one, all in one ctest
# call: each test's result and time there is the baseline its entry's verdict is judged against.
# An entry is "caught" only when every named test that failed with its fault ran and failed with it
# and passed without it; a time-out counts only when the test ran within a third of its time limit
# without the fault (the verdict says "timed out"). It is "MISSED" when every test passes with the
# fault or one of them did not run with it (disabled, skipped); "MOVED" when its text no longer
# occurs exactly once in its file (the code moved, and the entry must move with it); "MISSING" when
# a named test is not there with the fault; "BROKEN" when a named test fails, times out or does not
# run without the fault (the verdict gives the test's own words), when a test timed out with the
# fault but took more than a third of its limit without it, when the tree does not build with the
# fault and when a test program dies before its tests start with it (the verdict names the program).
# An entry whose replacement is its text, or one of whose tests is not there or runs a program that
# its build targets do not build, is refused before anything is planted. The last line is
# `guards: N planted, N caught`; the exit status is 0 only when every entry was caught.
#
# The format, one entry after another (a line starting with # is a comment):
#   guard NAME
#     file     path/from/the/root
#     find     the exact text (one line)      or: find, then lines "| text" (a block of lines)
#     replace  what replaces it (may be empty) or: replace, then lines "| text"
#     build    the targets the tests need (one line, several names)
#     test     a ctest name (one a line; several lines for several tests)
#     rounds   how often the tests run at most while none fails (default 1: a race's guard more)
#     suffers  one line: what a user would suffer with the fault
set -euo pipefail
# --mutate: faults of the mutation mode's own in the lines a change touched (see mutate.sh).
[ "${1:-}" != --mutate ] || { shift; exec bash "$(dirname "$0")/mutate.sh" "$@"; }
root=$(cd "$(dirname "$0")/../.." && pwd)
guards_dir="$root/Tests/Guards"
work="$root/build/guards"
shared="$work/tree"  # where each copy is seen in its own mount namespace
worker=${TW_GUARD_WORKER:-}
# The files planted since the first copy's build last built them whole: a run that ends before that
# leaves them listed, and the next run rebuilds them (the copy's files keep the working tree's
# times, which are older than an object compiled with a fault).
planted_marker="$work/planted"
durations="$work/durations"  # each entry's seconds in the last run, to share the work out evenly
log_dir="$work/logs"
baseline="$work/baseline"  # each named test's result without any fault, its time and its limit

# The compiler cache holds objects by their paths relative to the tree, so the copy's compiles hit
# what the other builds compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"

fail() { echo "guards: $*" >&2; exit 2; }
command -v jq > /dev/null || fail "jq is not installed (scripts/setup installs it)"

# --- the entries --------------------------------------------------------------------------------

declare -a names=() files=() finds=() replaces=() builds=() tests=() rounds=() suffers=() origins=()

add_entry() {  # checks the entry being read and keeps it
  local i=${#names[@]}
  [ -n "$e_name" ] || return 0
  [ -n "$e_file" ] || fail "$e_origin: guard $e_name has no file"
  [ -n "$e_find" ] || fail "$e_origin: guard $e_name has no find"
  [ -n "$e_build" ] || fail "$e_origin: guard $e_name has no build"
  [ -n "$e_tests" ] || fail "$e_origin: guard $e_name has no test"
  [ -n "$e_suffers" ] || fail "$e_origin: guard $e_name does not say what a user would suffer"
  [[ "$e_rounds" =~ ^[1-9][0-9]*$ ]] || fail "$e_origin: guard $e_name: rounds must be a number"
  [ "$e_find" != "$e_replace" ] || fail "$e_origin: guard $e_name: its replacement is its text, so nothing would be planted"
  local other
  for other in "${names[@]}"; do
    [ "$other" != "$e_name" ] || fail "$e_origin: guard $e_name is listed twice"
  done
  names[i]=$e_name files[i]=$e_file finds[i]=$e_find replaces[i]=$e_replace builds[i]=$e_build
  tests[i]=$e_tests rounds[i]=$e_rounds suffers[i]=$e_suffers origins[i]=$e_origin
}

read_guards() {  # FILE: reads its entries
  local file=$1 line number=0 key value block=""
  e_name=""
  while IFS= read -r line || [ -n "$line" ]; do
    number=$((number + 1))
    local trimmed="${line#"${line%%[![:space:]]*}"}"
    [ -z "$trimmed" ] || [ "${trimmed:0:1}" = "#" ] && { [ -z "$trimmed" ] && block=""; continue; }
    if [ "${trimmed:0:1}" = "|" ]; then
      local text=${trimmed:1}
      text=${text# }
      case "$block" in
        find) e_find+="${e_find:+$'\n'}$text" ;;
        replace) e_replace+="${e_replace_started:+$'\n'}$text"; e_replace_started=1 ;;
        *) fail "$file:$number: a '|' line belongs under a find or replace with no text of its own" ;;
      esac
      continue
    fi
    key=${trimmed%%[[:space:]]*}
    value=${trimmed#"$key"}
    value="${value#"${value%%[![:space:]]*}"}"
    block=""
    case "$key" in
      guard)
        add_entry
        e_name=$value e_file="" e_find="" e_replace="" e_replace_started="" e_build="" e_tests=""
        e_rounds=1 e_suffers="" e_origin="${file#"$root"/}:$number"
        [[ "$e_name" =~ ^[a-z0-9][a-z0-9.-]*$ ]] || fail "$file:$number: a guard's name is lower case, digits, dots and dashes"
        ;;
      file | find | replace | build | test | rounds | suffers)
        [ -n "$e_name" ] || fail "$file:$number: '$key' before any 'guard'"
        case "$key" in
          file) e_file=$value ;;
          find) e_find=$value; [ -n "$value" ] || block=find ;;
          replace) e_replace=$value; e_replace_started=${value:+1}; [ -n "$value" ] || block=replace ;;
          build) e_build+="${e_build:+ }$value" ;;
          test) e_tests+="${e_tests:+$'\n'}$value" ;;
          rounds) e_rounds=$value ;;
          suffers) e_suffers=$value ;;
        esac
        ;;
      *) fail "$file:$number: unknown key '$key'" ;;
    esac
  done < "$file"
  add_entry
}

shopt -s nullglob
guard_files=("$guards_dir"/*.guards)
((${#guard_files[@]})) || fail "no entries in $guards_dir"
for f in "${guard_files[@]}"; do read_guards "$f"; done

# Which entries run: all, or those named on the command line.
chosen=()
if (($#)); then
  for wanted in "$@"; do
    found=""
    for i in "${!names[@]}"; do [ "${names[i]}" = "$wanted" ] && { chosen+=("$i"); found=1; }; done
    [ -n "$found" ] || fail "no guard named '$wanted' (they are listed in Tests/Guards/*.guards)"
  done
else
  chosen=("${!names[@]}")
fi

chosen_targets() {  # `targets`: every target the chosen entries name, once
  local i t
  targets=()
  for i in "${chosen[@]}"; do
    for t in ${builds[i]}; do
      [[ " ${targets[*]} " == *" $t "* ]] || targets+=("$t")
    done
  done
}

regex_of() {  # ctest's regular expression for exactly these names, one a line
  local alternatives="" name
  while IFS= read -r name; do
    name=$(printf '%s' "$name" | sed 's/[][\.*^$(){}?+|/]/\\&/g')
    alternatives+="${alternatives:+|}$name"
  done <<< "$1"
  printf '^(%s)$' "$alternatives"
}

# --- what ctest says -----------------------------------------------------------------------------

program_that_died() {  # FILE: `died`, the test program that died while ctest listed its tests, and `died_why`
  died="" died_why=""
  grep -q 'Error running test executable' "$1" || return 0
  died=$(sed -n "s/^ *Path: '\(.*\)'\$/\1/p" "$1" | head -n 1)
  died_why=$(sed -n 's/^ *Result: *//p' "$1" | head -n 1)
  died=${died:-a test program}
  died_why=${died_why:-it ended}
}

declare -A r_kind=() r_text=() r_seconds=() r_line=()
read_results() {  # FILE NAMES: each named test's last result in ctest's output (r_kind: passed,
  # failed, timeout or notrun; r_text: ctest's word for it; r_seconds; r_line: its line in FILE)
  local file=$1 number text rest name tail status
  r_kind=() r_text=() r_seconds=() r_line=()
  while IFS=: read -r number text; do
    [[ "$text" =~ ^\ *([0-9]+/[0-9]+\ +)?Test\ +#[0-9]+:\ (.*)$ ]] || continue
    rest=${BASH_REMATCH[2]}
    while IFS= read -r name; do
      [[ "$rest" == "$name "* ]] || continue
      tail=${rest#"$name "}
      # The name, a space, dots up to ctest's column, the result and the time.
      [[ "$tail" =~ ^\.+(.*[^\ ])\ +([0-9.]+)\ sec$ ]] || continue
      status=${BASH_REMATCH[1]}
      r_seconds[$name]=${BASH_REMATCH[2]}
      status="${status#"${status%%[![:space:]*]*}"}"
      status=${status/\*\*\*Exception:/}
      status=${status//\*\*\*/ }
      r_text[$name]=${status:-Failed}
      case "$status" in
        *Passed*) r_kind[$name]=passed ;;
        *Timeout*) r_kind[$name]=timeout ;;
        *"Not Run"* | *Skipped* | *Disabled*) r_kind[$name]=notrun ;;
        *) r_kind[$name]=failed ;;
      esac
      r_line[$name]=$number
    done <<< "$2"
  done < <(grep -nE '^ *([0-9]+/[0-9]+ +)?Test +#[0-9]+: ' "$1" || true)
}

words_of() {  # FILE LINE: what a test said after its result line, its first failure first, on one
  # line (`words`)
  words=$(sed -n "$(($2 + 1)),\$p" "$1" | awk '
      /^ *Start +[0-9]+: |^ *([0-9]+\/[0-9]+ +)?Test +#[0-9]+: |^[0-9]+% tests passed, / { exit }
      /^\[[ A-Z=-]*\]|^Running main\(\) from |^Note: Google Test filter|^ *[0-9]+ FAILED TESTS?$|^[[:space:]]*$/ { next }
      { print }')
  if grep -q ': Failure$' <<< "$words"; then words=$(sed -n '/: Failure$/,$p' <<< "$words"); fi
  words=$(head -n 8 <<< "$words" | tr '\t\n' '  ' | tr -s ' ')
  words=${words//"$tree_seen/"/}
  words="${words#" "}"
  words="${words%" "}"
  ((${#words} <= 300)) || words="${words:0:297}..."
}

milliseconds() {  # SECONDS (as ctest writes them): `ms`
  local whole=${1%%.*} part=${1#*.}
  [[ "$1" == *.* ]] || part=0
  part="${part}000"
  ms=$((10#${whole:-0} * 1000 + 10#${part:0:3}))
}

# --- the copies ---------------------------------------------------------------------------------

if [ -z "$worker" ]; then
  # Only the targets the chosen entries name are built.
  chosen_targets

  isolated=""
  if [ "$(id -u)" = 0 ] && unshare --mount --propagation private true 2> /dev/null; then isolated=1; fi
  if [ -n "$isolated" ]; then
    workers=$(( ($(nproc) + 1) / 2 ))
    ((workers >= 2)) || workers=2
    ((workers <= 6)) || workers=6
    workers=${TW_GUARD_WORKERS:-$workers}
  else
    workers=1
  fi
  ((workers >= 1)) || workers=1
  ((workers <= ${#chosen[@]})) || workers=${#chosen[@]}

  in_copy() {  # N COMMAND...: runs the command with copy N at the path it was built at
    local n=$1
    shift
    if [ -n "$isolated" ]; then
      unshare --mount --propagation private bash -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' \
        bind "$work/tree-$n" "$shared" "$@"
    else
      "$@"
    fi
  }
  view="$work/tree-1"
  [ -z "$isolated" ] || view="$shared"
  tree_seen=$view

  remove_copies() {  # the first copy's sources go, its build folder stays for the next run
    local n
    [ ! -d "$work/tree-1" ] || find "$work/tree-1" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
    for ((n = 2; n <= 64; n++)); do [ ! -d "$work/tree-$n" ] || rm -rf "$work/tree-$n"; done
  }
  pids=()
  stop_workers() {
    local n
    for ((n = 1; n <= workers; n++)); do
      [ -f "$work/worker-$n.pid" ] && kill -TERM "$(cat "$work/worker-$n.pid")" 2> /dev/null
    done
    wait
    exit 130
  }
  trap remove_copies EXIT
  trap 'exit 130' INT TERM

  mkdir -p "$shared" "$log_dir"
  rm -rf "${log_dir:?}"/* "$work"/worker-* "$work"/ctest-* "$baseline"
  remove_copies
  mkdir -p "$work/tree-1"
  # The working tree as it is, uncommitted changes included, with each file's time kept, so the
  # build folder of an earlier run rebuilds only what changed since.
  (cd "$root" && git ls-files -z --cached --others --exclude-standard \
     | while IFS= read -r -d '' path; do [ -e "$path" ] && printf '%s\0' "$path"; done \
     | tar --null -T - -cf -) | tar -C "$work/tree-1" -xf -
  if [ -f "$planted_marker" ]; then
    while IFS= read -r planted; do touch "$work/tree-1/$planted" 2> /dev/null || true; done < "$planted_marker"
  fi
  # A build folder made for the copy at another path (the other way of running) starts again.
  cache="$work/tree-1/build/dev/CMakeCache.txt"
  if [ -f "$cache" ] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$view" "$cache"; then
    rm -rf "$work/tree-1/build/dev"
  fi
  # CMake describes the targets it configures (their programs, what each needs built first).
  mkdir -p "$work/tree-1/build/dev/.cmake/api/v1/query"
  : > "$work/tree-1/build/dev/.cmake/api/v1/query/codemodel-v2"
  # Every C++ file an entry plants in (of all entries, so that the build folder stays the same
  # whichever are chosen) is compiled on its own, outside the unity batches: a planted fault then
  # recompiles its one file instead of its batch of eight.
  alone=""
  for i in "${!names[@]}"; do
    f=${files[i]}
    [[ "$f" == *.cpp && -f "$root/$f" && ";$alone;" != *";$f;"* ]] && alone+="${alone:+;}$f"
  done
  echo "guards: building ${targets[*]} in a copy of the tree"
  in_copy 1 bash -c 'cd "$1" && cmake --preset dev -DTW_BUILD_BENCHMARKS=OFF "-DTW_BUILD_ALONE=$2"' configure "$view" "$alone" \
    > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "the copy does not configure"; }
  in_copy 1 cmake --build "$view/build/dev" --target "${targets[@]}" > "$work/build.log" 2>&1 \
    || { tail -n 40 "$work/build.log"; fail "the copy does not build without any fault (the files the entries plant in are compiled on their own there: each must include what it uses)"; }
  rm -f "$planted_marker"

  # Each target's programs and the targets it needs built first, as CMake describes them.
  declare -A artifact_target=() target_deps=() built=()
  reply="$work/tree-1/build/dev/.cmake/api/v1/reply"
  index=$(find "$reply" -maxdepth 1 -name 'index-*.json' 2> /dev/null | sort | tail -n 1)
  [ -n "$index" ] || fail "CMake did not describe the copy's targets (nothing in $reply)"
  codemodel="$reply/$(jq -r '.reply["codemodel-v2"].jsonFile' "$index")"
  mapfile -t target_files < <(jq -r '.configurations[0].targets[].jsonFile' "$codemodel")
  while IFS=$'\t' read -r target artifacts needs; do
    for artifact in $artifacts; do artifact_target[$artifact]=$target; done
    target_deps[$target]=$needs
  done < <(cd "$reply" && jq -r --arg build "$(jq -r .paths.build "$codemodel")" \
             '[.name, ([.artifacts[]?.path | if startswith("/") then . else $build + "/" + . end] | join(" ")),
               ([.dependencies[]?.id | sub("::@.*$"; "")] | join(" "))] | @tsv' \
             "${target_files[@]}")
  built_by() {  # TARGETS: `built`, every target that building them builds
    local queue target need
    read -ra queue <<< "$1"
    built=()
    while ((${#queue[@]})); do
      target=${queue[0]}
      queue=("${queue[@]:1}")
      [ -z "${built[$target]:-}" ] || continue
      built[$target]=1
      for need in ${target_deps[$target]:-}; do queue+=("$need"); done
    done
  }

  # The copy's tests and what each runs. A test program that dies as ctest lists its tests stops
  # every ctest call: one left by an earlier run that ended with its fault planted (none of this
  # run's targets builds it) is built again from the copy's sources.
  list_tests() {
    in_copy 1 bash -c 'cd "$1" && ctest --show-only=json-v1' list "$view/build/dev" \
      > "$work/tests.json" 2> "$work/tests.err"
  }
  if ! list_tests; then
    program_that_died "$work/tests.err"
    built_by "${targets[*]}"
    stale=${artifact_target[$died]:-}
    if [ -n "$stale" ] && [ -z "${built[$stale]:-}" ]; then
      in_copy 1 cmake --build "$view/build/dev" --target "$stale" >> "$work/build.log" 2>&1 || true
      died=""
      list_tests || program_that_died "$work/tests.err"
    fi
    if [ -n "$died" ]; then
      cat "$work/tests.err" >&2
      fail "the copy's tests cannot be listed: ${died#"$view/build/dev/"} dies before its tests start, with no fault planted ($died_why)"
    fi
    [ -s "$work/tests.json" ] || { cat "$work/tests.err" >&2; fail "ctest does not list the copy's tests"; }
  fi
  declare -A test_command=() test_limit=()
  while IFS=$'\t' read -r test limit command; do
    test_command[$test]=$command test_limit[$test]=$limit
  done < <(jq -r '.tests[] | [.name, ([.properties[]? | select(.name == "TIMEOUT") | .value][0] // 1500),
                   ((.command // []) | join("\u001f"))] | @tsv' "$work/tests.json")

  # Every named test is there, and its build targets build each program it runs (one left from an
  # earlier run would be tried as it was then).
  for i in "${chosen[@]}"; do
    built_by "${builds[i]}"
    while IFS= read -r test; do
      [ -n "${test_command[$test]+set}" ] || fail "${origins[i]}: guard ${names[i]}: no test '$test' among the built programs' tests (is it named right, and do its build targets build its program?)"
      IFS=$'\x1f' read -ra command_words <<< "${test_command[$test]}"
      for word in "${command_words[@]}"; do
        target=${artifact_target[$word]:-}
        [ -z "$target" ] || [ -n "${built[$target]:-}" ] \
          || fail "${origins[i]}: guard ${names[i]}: its test '$test' runs ${word#"$view/build/dev/"}, which its build targets (${builds[i]}) do not build: name $target among them"
      done
    done <<< "${tests[i]}"
  done

  # The baseline: the chosen entries' tests, once, without any fault, side by side.
  mapfile -t named < <(for i in "${chosen[@]}"; do printf '%s\n' "${tests[i]}"; done | sort -u)
  jobs=$(nproc)
  ((jobs >= 2)) || jobs=2
  echo "guards: running the ${#named[@]} named tests without any fault"
  in_copy 1 bash -c 'cd "$1" && shift && exec ctest "$@"' baseline "$view/build/dev" \
    -R "$(regex_of "$(printf '%s\n' "${named[@]}")")" -j "$jobs" --output-on-failure \
    > "$log_dir/baseline.log" 2>&1 || true
  program_that_died "$log_dir/baseline.log"
  [ -z "$died" ] || fail "${died#"$view/build/dev/"} dies before its tests start, with no fault planted ($died_why; build/guards/logs/baseline.log)"
  read_results "$log_dir/baseline.log" "$(printf '%s\n' "${named[@]}")"
  for test in "${named[@]}"; do
    words=""
    case "${r_kind[$test]:-}" in
      passed | "") ;;
      *) words_of "$log_dir/baseline.log" "${r_line[$test]}" ;;
    esac
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$test" "${r_kind[$test]:-absent}" "${r_text[$test]:-}" \
      "${r_seconds[$test]:-0}" "${test_limit[$test]}" "$words"
  done > "$baseline"

  for ((n = 2; n <= workers; n++)); do cp -a "$work/tree-1" "$work/tree-$n"; done

  # Longest first (by the last run's times), each to the worker with the least work so far.
  declare -A took=()
  if [ -f "$durations" ]; then
    while read -r name seconds; do took[$name]=$seconds; done < "$durations"
  fi
  mapfile -t ordered < <(for i in "${chosen[@]}"; do echo "${took[${names[i]}]:-30} $i"; done | sort -rn | cut -d' ' -f2)
  declare -a load=() share=()
  for ((n = 1; n <= workers; n++)); do load[n]=0 share[n]=""; done
  for i in "${ordered[@]}"; do
    least=1
    for ((n = 2; n <= workers; n++)); do ((load[n] < load[least])) && least=$n; done
    load[least]=$((load[least] + ${took[${names[i]}]:-30}))
    share[least]+=" ${names[i]}"
  done

  trap stop_workers INT TERM
  for ((n = 1; n <= workers; n++)); do
    # Each verdict shows as it comes, and the worker's whole output is kept.
    # shellcheck disable=SC2086
    (in_copy "$n" env TW_GUARD_WORKER="$n" TW_GUARD_TREE="$view" bash "$0" ${share[n]} 2>&1 \
       | tee "$work/worker-$n.out" | grep --line-buffered -vE '^guards: [0-9]+ planted'
     exit "${PIPESTATUS[0]}") &
    pids+=($!)
  done
  status=0
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  trap 'exit 130' INT TERM
  for ((n = 1; n <= workers; n++)); do
    grep -q '^guards: [0-9]* planted' "$work/worker-$n.out" || { cat "$work/worker-$n.out"; status=1; }
  done
  # This run's times, and the last known times of the entries it did not run.
  cat "$work"/worker-*.out | sed -n 's/^\(caught\|MISSED\|MOVED\|MISSING\|BROKEN\) *\([^:]*\):.*\[\([0-9]*\)s\]$/\2 \3/p' > "$durations.new"
  for name in "${!took[@]}"; do
    grep -q "^$name " "$durations.new" || echo "$name ${took[$name]}" >> "$durations.new"
  done
  mv "$durations.new" "$durations"
  planted_count=$(cat "$work"/worker-*.out | grep -cE '^(caught|MISSED|MISSING|BROKEN) ' || true)
  caught_count=$(cat "$work"/worker-*.out | grep -c '^caught ' || true)
  echo
  echo "guards: $planted_count planted, $caught_count caught"
  ((status == 0 && caught_count == planted_count && planted_count == ${#chosen[@]}))
  exit
fi

# --- one worker's share, in its copy -------------------------------------------------------------

echo $$ > "$work/worker-$worker.pid"
trap 'exit 130' INT TERM
tree=$TW_GUARD_TREE
build="$tree/build/dev"

# --- planting -----------------------------------------------------------------------------------

# count_of and plant: the text replacement both runners share.
source "$(dirname "${BASH_SOURCE[0]}")/planting.sh"

# Each named test without any fault: its result (passed, failed, timeout, notrun or absent),
# ctest's word for it, its seconds, its time limit and what it said.
declare -A b_kind=() b_text=() b_seconds=() b_limit=() b_words=()
while IFS=$'\t' read -r test kind text seconds limit words; do
  b_kind[$test]=$kind b_text[$test]=$text b_seconds[$test]=$seconds b_limit[$test]=$limit
  b_words[$test]=$words
done < "$baseline"

unsound_without_fault() {  # TESTS: `unsound`, why a named test judges no fault (it does not pass without one)
  local test
  unsound=""
  while IFS= read -r test; do
    case "${b_kind[$test]:-absent}" in
      passed) continue ;;
      failed) unsound="$test fails without the fault (${b_text[$test]})${b_words[$test]:+: ${b_words[$test]}}" ;;
      timeout) unsound="$test times out without the fault (its limit ${b_limit[$test]}s)${b_words[$test]:+: ${b_words[$test]}}" ;;
      notrun) unsound="$test does not run without the fault (${b_text[$test]})" ;;
      *) unsound="$test did not run without the fault" ;;
    esac
    return
  done <<< "$1"
}

tree_seen=$tree
planted_count=0
caught_count=0
mkdir -p "$log_dir"
out="$work/ctest-$worker.out"

for i in "${chosen[@]}"; do
  name=${names[i]} file=${files[i]}
  path="$tree/$file"
  log="$log_dir/$name.log"
  started=$SECONDS
  verdict=""
  if [ ! -f "$path" ]; then
    verdict="MOVED   $name: $file is not there (${origins[i]})"
  else
    count=$(count_of "${finds[i]}" "$path")
    if [ "$count" != 1 ]; then
      verdict="MOVED   $name: its text occurs $count times in $file, not once (${origins[i]})"
    fi
  fi
  if [ -z "$verdict" ]; then
    unsound_without_fault "${tests[i]}"
    if [ -n "$unsound" ]; then
      planted_count=$((planted_count + 1))
      verdict="BROKEN  $name: $unsound (build/guards/logs/baseline.log)"
    fi
  fi
  if [ -z "$verdict" ]; then
    planted_count=$((planted_count + 1))
    original="$work/original-$worker"
    cp -p "$path" "$original"
    ((worker != 1)) || echo "$file" >> "$planted_marker"
    plant "$path" "${finds[i]}" "${replaces[i]}"
    died=""
    # shellcheck disable=SC2086
    if ! cmake --build "$build" --target ${builds[i]} > "$log" 2>&1; then
      verdict="BROKEN  $name: the tree does not build with the fault (build/guards/logs/$name.log)"
    else
      (cd "$build" && ctest -R "$(regex_of "${tests[i]}")" --repeat "until-fail:${rounds[i]}" \
         --output-on-failure) > "$out" 2>&1 || true
      cat "$out" >> "$log"
      program_that_died "$out"
      if [ -n "$died" ]; then
        verdict="BROKEN  $name: ${died#"$build/"} dies before its tests start with the fault planted ($died_why; build/guards/logs/$name.log)"
      else
        read_results "$out" "${tests[i]}"
        failed=() absent=0 not_run="" too_slow=""
        while IFS= read -r test; do
          case "${r_kind[$test]:-absent}" in
            passed) ;;
            failed) failed+=("$test") ;;
            timeout)
              # Only a test that ran well within its limit without the fault times out for it.
              milliseconds "${b_seconds[$test]}"
              if ((ms * 3 <= ${b_limit[$test]%%.*} * 1000)); then
                failed+=("$test (timed out)")
              else
                too_slow="$test timed out with the fault planted, but took ${b_seconds[$test]}s of its ${b_limit[$test]}s without it"
              fi
              ;;
            notrun) not_run="$test did not run with the fault planted (${r_text[$test]})" ;;
            *) absent=$((absent + 1)) ;;
          esac
        done <<< "${tests[i]}"
        wanted=$(printf '%s\n' "${tests[i]}" | wc -l)
        if ((absent)); then
          verdict="MISSING $name: $((wanted - absent)) of its $wanted tests are there with the fault planted (${origins[i]})"
        elif [ -n "$not_run" ]; then
          verdict="MISSED  $name: $not_run (${origins[i]}): ${suffers[i]}"
        elif [ -n "$too_slow" ]; then
          verdict="BROKEN  $name: $too_slow (${origins[i]})"
        elif ((${#failed[@]} == 0)); then
          verdict="MISSED  $name: its tests pass with the fault planted (${origins[i]}): ${suffers[i]}"
        else
          caught_count=$((caught_count + 1))
          printf -v verdict 'caught  %s: ' "$name"
          printf -v caught_by '%s, ' "${failed[@]}"
          verdict+=${caught_by%, }
        fi
      fi
    fi
    # The fault taken out: the original back with a new time, so the next build compiles it again
    # (a hit in the compiler cache). A program that died with it is built again at once: ctest
    # lists every program's tests, and the next entry's tests would not run beside it.
    cat "$original" > "$path"
    # shellcheck disable=SC2086
    [ -z "$died" ] || cmake --build "$build" --target ${builds[i]} >> "$log" 2>&1 || true
  fi
  verdict+=" [$((SECONDS - started))s]"
  echo "$verdict"
done

# The first copy's build, kept for the next run, is left as the working tree's sources build it (the
# others' go at the end of the run).
if ((worker == 1 && planted_count)); then
  chosen_targets
  if cmake --build "$build" --target "${targets[@]}" > "$work/build-after.log" 2>&1; then
    rm -f "$planted_marker"
  fi
fi

echo "guards: $planted_count planted, $caught_count caught"
((caught_count == planted_count && planted_count == ${#chosen[@]}))
