#!/usr/bin/env bash
# The device tests that run something as an unprivileged user (those whose body calls
# rerunUnprivileged()), run where that user cannot enter the clone, as with a clone in root's home:
# `root_only_folder_tests.sh SOURCE BUILD PROGRAM...`. In a mount namespace of its own, the folder
# holding SOURCE (and the one holding BUILD) is covered by an empty folder only root can enter, and
# SOURCE and BUILD are mounted back at their own paths inside it; each PROGRAM then runs those of
# its tests. Nothing is built or copied. Skips (exit 77), saying why, without root or mount
# namespaces.
set -euo pipefail
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
shift 2

if [ -z "${TW_CLOSED_STASH:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "the check needs root"
  command -v setpriv > /dev/null || skip "setpriv is not installed"
  unshare --mount true 2> /dev/null || skip "no mount namespace can be made here (unshare --mount)"
  # Where the folders are mounted aside meanwhile (empty again outside the namespace: removed with
  # rmdir alone, never recursively).
  stash=$(mktemp -d)
  status=0
  unshare --mount env TW_CLOSED_STASH="$stash" bash "$0" "$source_dir" "$build_dir" "$@" || status=$?
  rmdir "$stash"/* "$stash" 2> /dev/null || true
  exit "$status"
fi

mount --make-rprivate /
# Each folder is mounted aside before its parent is covered, then mounted back at its own path.
parents=()
folders=()
for path in "$source_dir" "$build_dir"; do
  case "$path/" in "$source_dir"/*/) continue ;; esac
  parent=$(dirname "$path")
  case "$parent" in /|/tmp) skip "$path: its folder $parent cannot be closed for the check" ;; esac
  aside="$TW_CLOSED_STASH/${#folders[@]}"
  mkdir "$aside"
  mount --bind "$path" "$aside"
  folders+=("$path")
  parents+=("$parent")
done
for parent in $(printf '%s\n' "${parents[@]}" | sort -u); do
  mount -t tmpfs -o mode=700 tw-closed "$parent"
done
for i in "${!folders[@]}"; do
  mkdir -p "${folders[i]}"
  mount --bind "$TW_CLOSED_STASH/$i" "${folders[i]}"
done
if setpriv --reuid=65534 --regid=65534 --clear-groups -- test -x "$source_dir"; then
  fail "$source_dir: an unprivileged user can still enter it"
fi

# Suite.Name of every TEST whose body calls rerunUnprivileged().
mapfile -t wanted < <(grep -rl --include='*.cpp' 'rerunUnprivileged()' "$source_dir/Tests" |
  xargs awk 'FNR == 1 { name = "" }
             /^TEST(_F)?\(/ { name = $0; sub(/^TEST(_F)?\( */, "", name); sub(/\).*/, "", name);
                              gsub(/ *, */, ".", name) }
             /rerunUnprivileged\(\)/ && name != "" { print name; name = "" }' | sort -u)
((${#wanted[@]} > 0)) || fail "no test in $source_dir/Tests runs as an unprivileged user"

ran=0
for program in "$@"; do
  mapfile -t listed < <("$program" --gtest_list_tests | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
  filter=""
  for name in "${wanted[@]}"; do
    # Not grep -q: its early exit would fail printf with SIGPIPE, and the pipeline with it.
    printf '%s\n' "${listed[@]}" | grep -xF "$name" > /dev/null && filter+="${filter:+:}$name"
  done
  [ -n "$filter" ] || continue
  echo "== $(basename "$program") --gtest_filter=$filter"
  "$program" --gtest_filter="$filter" --gtest_brief=1 \
    || fail "$(basename "$program") failed with the clone closed to other users"
  ran=$((ran + $(tr ':' '\n' <<< "$filter" | wc -l)))
done
((ran == ${#wanted[@]})) || fail "ran $ran of the ${#wanted[@]} tests that run as an unprivileged user: ${wanted[*]}"
echo "$ran tests that run as an unprivileged user passed with the clone closed to other users"
