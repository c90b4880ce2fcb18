#!/usr/bin/env bash
# The guards stage's runner over a scratch project of two small test programs: `guards_tests.sh
# ROOT CASE` copies ROOT's Tests/Guards/plant.sh into the project and runs one case there.
set -euo pipefail
# Run from a worker of the real stage, the scratch project's run is a whole run of its own.
unset TW_GUARD_WORKER TW_GUARD_TREE TW_GUARD_WORKERS
root="$1"
case_name="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
expect_line() {  # expect_line FILE REGEX
  grep -qE -- "$2" "$1" || { cat "$1" >&2; fail "no line matches '$2'"; }
}

mkdir -p "$work/Tests/Guards"
cp "$root/Tests/Guards/plant.sh" "$root/Tests/Guards/planting.sh" "$work/Tests/Guards/"
cd "$work"
echo build/ > .gitignore
cat > CMakePresets.json << 'PRESETS'
{
  "version": 6,
  "configurePresets": [
    { "name": "dev", "generator": "Ninja", "binaryDir": "${sourceDir}/build/dev",
      "cacheVariables": { "CMAKE_BUILD_TYPE": "Debug" } }
  ]
}
PRESETS
cat > CMakeLists.txt << 'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(scratch CXX)
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)
foreach(program sums starts)
  add_executable(${program} ${program}.cpp)
  target_link_libraries(${program} PRIVATE GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${program} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 8)
endforeach()
CMAKE
cat > sums.cpp << 'SOURCE'
#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

static void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
static int sum(int a, int b) { return a + b; }
static int settle(int n) { return n; }

TEST(Sums, Add) { EXPECT_EQ(sum(2, 3), 5); }
TEST(Sums, Guarded) { EXPECT_EQ(sum(1, 1), 2); }
TEST(Sums, Settle) { EXPECT_EQ(settle(3), 3); }
TEST(Sums, SettleSlowly) { pause(3500); EXPECT_EQ(settle(4), 4); }
TEST(Sums, AbortAtOnce) { std::fputs("no device to open here\n", stderr); std::fflush(stderr); std::abort(); }
TEST(Sums, HangAlways) { for (;;) pause(1000); }
TEST(Sums, NeedATool) { std::puts("looking for the tool"); EXPECT_EQ(std::system("tw-guards-missing-tool 2> /dev/null"), 0) << "the tool is not installed"; }
SOURCE
cat > starts.cpp << 'SOURCE'
#include <gtest/gtest.h>
#include <cstdlib>

static const bool ready = true;

TEST(Starts, Ready) { EXPECT_TRUE(ready); }
SOURCE
git init -q .

entry() {  # NAME FILE FIND REPLACE BUILD TEST: one entry of Tests/Guards/scratch.guards
  printf 'guard %s\n  file     %s\n  find     %s\n  replace  %s\n  build    %s\n  test     %s\n  suffers  -\n\n' \
    "$@" >> Tests/Guards/scratch.guards
}

case "$case_name" in
  verdicts)
    # A catch is caught; a time-out is one only where the test passed well within its limit
    # without the fault; a test that the fault disables is no catch; a test that fails, aborts or
    # hangs whatever is planted makes its entry broken, in the test's own words; a program that
    # dies before its tests start is named.
    entry real-catch sums.cpp 'return a + b;' 'return a - b;' sums Sums.Add
    entry hang-caught sums.cpp 'return n;' 'for (;;) pause(1000);' sums Sums.Settle
    entry hang-slow-test sums.cpp 'return n;' 'for (;;) pause(1000);' sums Sums.SettleSlowly
    entry test-disabled sums.cpp 'TEST(Sums, Guarded)' 'TEST(Sums, DISABLED_Guarded)' sums Sums.Guarded
    entry aborts-whatever sums.cpp 'return a + b;' 'return b + a;' sums Sums.AbortAtOnce
    entry hangs-whatever sums.cpp 'return a + b;' 'return b + a;' sums Sums.HangAlways
    entry fails-whatever sums.cpp 'return a + b;' 'return a + b; // the same' sums Sums.NeedATool
    entry dies-before-main starts.cpp 'ready = true;' 'ready = (std::abort(), true);' starts Starts.Ready
    status=0
    TW_GUARD_WORKERS=2 bash Tests/Guards/plant.sh > out 2>&1 || status=$?
    [ "$status" = 1 ] || { cat out >&2; fail "the run ended with $status, not 1"; }
    expect_line out '^caught  real-catch: Sums\.Add \['
    expect_line out '^caught  hang-caught: Sums\.Settle \(timed out\) \['
    expect_line out '^BROKEN  hang-slow-test: Sums\.SettleSlowly timed out with the fault planted, but took [0-9.]+s of its 8s without it '
    expect_line out '^MISSED  test-disabled: Sums\.Guarded did not run with the fault planted \(Not Run \(Disabled\)\) '
    expect_line out '^BROKEN  aborts-whatever: Sums\.AbortAtOnce fails without the fault \(Subprocess aborted\): no device to open here \(build/guards/logs/baseline\.log\) \['
    expect_line out '^BROKEN  hangs-whatever: Sums\.HangAlways times out without the fault \(its limit 8s\)'
    expect_line out '^BROKEN  fails-whatever: Sums\.NeedATool fails without the fault \(Failed\): sums\.cpp:[0-9]+: Failure .*the tool is not installed'
    expect_line out '^BROKEN  dies-before-main: starts dies before its tests start with the fault planted \(Subprocess aborted'
    expect_line out '^guards: 8 planted, 2 caught$'
    grep -q 'ready = true;' starts.cpp || fail "the working tree was planted in"
    # A run that ended while a program died with its fault (killed before it took the fault out)
    # leaves that program, which this run's targets do not build: built again, it stops nothing.
    printf '#!/bin/sh\nkill -ABRT $$\n' > build/guards/tree-1/build/dev/starts
    echo starts.cpp > build/guards/planted
    TW_GUARD_WORKERS=2 bash Tests/Guards/plant.sh real-catch > out 2>&1 || { cat out >&2; fail "a run after one killed failed"; }
    expect_line out '^caught  real-catch: Sums\.Add \['
    ;;
  refuses-unsound-entries)
    # An entry whose replacement is its text plants nothing: refused before anything is built.
    entry same-text sums.cpp 'return a + b;' 'return a + b;' sums Sums.Add
    status=0
    bash Tests/Guards/plant.sh > out 2>&1 || status=$?
    [ "$status" = 2 ] || { cat out >&2; fail "an entry planting nothing ran: $status"; }
    expect_line out "^guards: Tests/Guards/scratch\.guards:1: guard same-text: its replacement is its text"
    [ ! -d build/guards/tree-1/build ] || fail "the copy was built for an entry refused"
    # An entry whose test's program its targets do not build (another entry builds it here, as an
    # earlier run may have) would judge a program built without its fault: refused.
    : > Tests/Guards/scratch.guards
    entry starts-ready starts.cpp 'ready = true;' 'ready = false;' starts Starts.Ready
    entry wrong-program starts.cpp 'ready = true;' 'ready = false;' sums Starts.Ready
    status=0
    bash Tests/Guards/plant.sh > out 2>&1 || status=$?
    [ "$status" = 2 ] || { cat out >&2; fail "an entry whose program is not built ran: $status"; }
    expect_line out "^guards: Tests/Guards/scratch\.guards:9: guard wrong-program: its test 'Starts\.Ready' runs starts, which its build targets \(sums\) do not build"
    ! grep -qE '^(caught|MISSED|BROKEN)' out || { cat out >&2; fail "an entry ran though one was refused"; }
    ;;
  *)
    fail "no case $case_name"
    ;;
esac
echo "$case_name: passed"
