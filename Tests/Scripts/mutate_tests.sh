#!/usr/bin/env bash
# The guards' mutation mode on a scratch project: `mutate_tests.sh ROOT` makes a git repository with
# a one-function library and one test, changes the function without committing, and runs ROOT's
# Tests/Guards/mutate.sh there, two faults side by side. The test catches the inverted condition but
# neither `>=` for `>` (which changes nothing at the limit) nor the count of calls removed: the
# verdicts (one copy plants two of the three, so each fault is taken out again), the survivors'
# guards entries and the working tree, left as it was, are checked.
set -euo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
expect_line() {  # expect_line FILE REGEX
  grep -qE -- "$2" "$1" || { cat "$1" >&2; fail "no line matches '$2'"; }
}

repo="$work/repo"
mkdir -p "$repo/Sources" "$repo/Tests/Guards"
cp "$root/Tests/Guards/mutate.sh" "$root/Tests/Guards/planting.sh" "$repo/Tests/Guards/"
cat > "$repo/CMakeLists.txt" << 'EOF'
cmake_minimum_required(VERSION 3.25)
project(scratch CXX)
enable_testing()
add_library(limit Sources/Limit.cpp)
add_executable(limit_test Tests/LimitTest.cpp)
target_link_libraries(limit_test limit)
add_test(NAME Limit.KeepsValuesUpToTheLimit COMMAND limit_test)
EOF
cat > "$repo/CMakePresets.json" << 'EOF'
{
  "version": 6,
  "configurePresets": [
    { "name": "dev", "generator": "Ninja", "binaryDir": "${sourceDir}/build/dev",
      "cacheVariables": { "CMAKE_BUILD_TYPE": "Debug" } }
  ]
}
EOF
cat > "$repo/Tests/LimitTest.cpp" << 'EOF'
int limited(int value, int limit);
int main() { return limited(5, 3) == 3 && limited(1, 3) == 1 ? 0 : 1; }
EOF
printf 'build/\n' > "$repo/.gitignore"
printf 'int calls = 0;\nint limited(int value, int limit) {\n    return value;\n}\n' > "$repo/Sources/Limit.cpp"
git -C "$repo" init -q -b main
git -C "$repo" add -A
git -C "$repo" -c user.name=t -c user.email=t@t commit -qm base
# The change: two lines, three faults.
printf 'int calls = 0;\nint limited(int value, int limit) {\n    ++calls;\n    if (value > limit) return limit;\n    return value;\n}\n' \
  > "$repo/Sources/Limit.cpp"
cp "$repo/Sources/Limit.cpp" "$work/changed"

"$repo/Tests/Guards/mutate.sh" --list > "$work/list" 2>&1 || { cat "$work/list" >&2; fail "--list failed"; }
expect_line "$work/list" "^mutate: the working tree's changes since [0-9a-f]+: 3 faults in 1 files$"

TW_MUTANT_WORKERS=2 "$repo/Tests/Guards/mutate.sh" > "$work/out" 2>&1 || { cat "$work/out" >&2; fail "mutate.sh failed"; }
expect_line "$work/out" '^killed +Sources/Limit\.cpp:4  condition inverted \(Limit\.KeepsValuesUpToTheLimit\) \[[0-9]+s\]$'
expect_line "$work/out" '^SURVIVED +Sources/Limit\.cpp:4  `>=` for `>` \[[0-9]+s\]$'
expect_line "$work/out" '^SURVIVED +Sources/Limit\.cpp:3  statement removed \[[0-9]+s\]$'
expect_line "$work/out" '^mutate: 3 faults: 1 killed, 2 survived, 0 do not build '
# The survivors' entries, as Tests/Guards/*.guards takes them.
sed -n '/^Survivors/,/^mutate: 3 faults/p' "$work/out" > "$work/survivors"
expect_line "$work/survivors" '^  guard mutant-limit-4-comparison$'
expect_line "$work/survivors" '^    file     Sources/Limit\.cpp$'
expect_line "$work/survivors" '^    find     if \(value > limit\) return limit;$'
expect_line "$work/survivors" '^    replace  if \(value >= limit\) return limit;$'
expect_line "$work/survivors" '^    build    limit_test$'
expect_line "$work/survivors" '^  guard mutant-limit-3-removed$'
expect_line "$work/survivors" '^    find     \+\+calls;$'
expect_line "$work/survivors" '^    replace  if \(false\) \+\+calls;$'
! grep -q 'condition inverted' "$work/survivors" || { cat "$work/out" >&2; fail "the killed fault is listed as a survivor"; }
# Nothing was planted in the working tree.
cmp -s "$repo/Sources/Limit.cpp" "$work/changed" || fail "the working tree's file changed"
[ -z "$(git -C "$repo" status --porcelain --untracked-files=all | grep -v '^ M Sources/Limit.cpp$')" ] ||
  { git -C "$repo" status --porcelain >&2; fail "the working tree holds files it did not hold"; }
echo "mutation mode: passed"
