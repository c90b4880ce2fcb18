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
# An entry passes ("caught") when at least one of its tests fails in one of its rounds. It fails
# when every test passes with the fault planted ("MISSED"), when its text no longer occurs exactly
# once in its file ("MOVED": the code moved, and the entry must move with it), when a named test is
# not there, and when the tree does not build with the fault. The last line is
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

# The compiler cache holds objects by their paths relative to the tree, so the copy's compiles hit
# what the other builds compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"

fail() { echo "guards: $*" >&2; exit 2; }

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
  rm -rf "$log_dir"/* "$work"/worker-*
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
  echo "guards: building ${targets[*]} in a copy of the tree"
  in_copy 1 bash -c 'cd "$1" && cmake --preset dev -DTW_BUILD_BENCHMARKS=OFF' configure "$view" \
    > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "the copy does not configure"; }
  in_copy 1 cmake --build "$view/build/dev" --target "${targets[@]}" > "$work/build.log" 2>&1 \
    || { tail -n 40 "$work/build.log"; fail "the copy does not build without any fault"; }
  rm -f "$planted_marker"
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

regex_of() {  # ctest's regular expression for exactly these names, one a line
  local alternatives="" name
  while IFS= read -r name; do
    name=$(printf '%s' "$name" | sed 's/[][\.*^$(){}?+|/]/\\&/g')
    alternatives+="${alternatives:+|}$name"
  done <<< "$1"
  printf '^(%s)$' "$alternatives"
}

count_of() {  # TEXT FILE: how often the text occurs in the file
  local text=$1 content count=0
  content=$(cat "$2"; printf x)
  while [[ "$content" == *"$text"* ]]; do
    count=$((count + 1))
    content=${content#*"$text"}
  done
  echo "$count"
}

plant() {  # FILE FIND REPLACE: the first (only) occurrence replaced, the file's end kept
  local content
  content=$(cat "$1"; printf x)
  content=${content%x}
  local before=${content%%"$2"*}
  local after=${content#*"$2"}
  printf '%s%s%s' "$before" "$3" "$after" > "$1"
}

planted_count=0
caught_count=0
mkdir -p "$log_dir"

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
    planted_count=$((planted_count + 1))
    original="$work/original-$worker"
    cp -p "$path" "$original"
    ((worker != 1)) || echo "$file" >> "$planted_marker"
    plant "$path" "${finds[i]}" "${replaces[i]}"
    # shellcheck disable=SC2086
    if ! cmake --build "$build" --target ${builds[i]} > "$log" 2>&1; then
      verdict="BROKEN  $name: the tree does not build with the fault (build/guards/logs/$name.log)"
    else
      regex=$(regex_of "${tests[i]}")
      wanted=$(printf '%s\n' "${tests[i]}" | wc -l)
      listed=$(cd "$build" && ctest -N -R "$regex" 2>/dev/null | sed -n 's/^Total Tests: //p')
      if [ "$listed" != "$wanted" ]; then
        verdict="MISSING $name: ${listed:-0} of its $wanted tests are there (${origins[i]})"
      elif (cd "$build" && ctest -R "$regex" --repeat "until-fail:${rounds[i]}" --output-on-failure \
              --no-tests=error) >> "$log" 2>&1; then
        verdict="MISSED  $name: its tests pass with the fault planted (${origins[i]}): ${suffers[i]}"
      else
        caught_count=$((caught_count + 1))
        failed=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) ([A-Za-z ]*)$/\1/p' "$log" | sort -u | paste -sd, -)
        verdict="caught  $name: ${failed:-a test failed}"
      fi
    fi
    # The fault taken out: the original back with a new time, so the next build compiles it again
    # (a hit in the compiler cache).
    cat "$original" > "$path"
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
