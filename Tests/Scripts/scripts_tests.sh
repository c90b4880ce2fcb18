#!/usr/bin/env bash
# The repository's scripts, run against stand-ins for the commands they call: `scripts_tests.sh
# ROOT CASE` copies ROOT's scripts into a temporary folder and runs one case there.
set -euo pipefail
root="$1"
case_name="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts" "$work/bin" "$work/Tests/Guards"
cp "$root/scripts/test" "$root/scripts/setup" "$root/scripts/run" "$work/scripts/"
# The guards stage's runner, standing in: it says it ran.
printf '#!/bin/sh\necho "guards ran" >> "${TW_CALLS:-/dev/null}"\n' > "$work/Tests/Guards/plant.sh"

stand_in() {  # stand_in NAME BODY: a command on PATH that runs BODY (sh)
  printf '#!/bin/sh\n%s\n' "$2" > "$work/bin/$1"
  chmod +x "$work/bin/$1"
}
fail() { echo "FAILED: $*" >&2; exit 1; }
expect_line() {  # expect_line FILE REGEX
  grep -qE -- "$2" "$1" || { cat "$1" >&2; fail "no line matches '$2'"; }
}

case "$case_name" in
  every-stage-runs)
    # The dev stage's tests fail and one of two fuzz targets fails: every stage still runs, and the
    # summary gives each stage's result and time, and the script fails.
    printf '#!/bin/sh\nexit 0\n' > "$work/scripts/setup"
    stand_in cmake 'echo "cmake $*" >> "$TW_CALLS"'
    stand_in ctest 'echo "ctest $*" >> "$TW_CALLS"; [ "$2" = dev ] && exit 8; exit 0'
    mkdir -p "$work/build/fuzz"
    printf '#!/bin/sh\necho crashed; exit 3\n' > "$work/build/fuzz/fuzz_first"
    printf '#!/bin/sh\necho done\n' > "$work/build/fuzz/fuzz_second"
    chmod +x "$work/build/fuzz/"fuzz_*
    export TW_CALLS="$work/calls"
    if PATH="$work/bin:$PATH" TW_FUZZ_SECONDS=1 "$work/scripts/test" > "$work/out" 2>&1; then
      cat "$work/out" >&2; fail "scripts/test passed with two failing stages"
    fi
    for preset in dev release fuzz tsan asan; do
      expect_line "$work/calls" "^cmake --build --preset $preset\$"
    done
    # The debug build leaves out the benchmarks, which the optimised one builds.
    expect_line "$work/calls" '^cmake --preset dev -DTW_BUILD_BENCHMARKS=OFF$'
    expect_line "$work/calls" '^cmake --preset release$'
    expect_line "$work/calls" '^ctest --preset kernel$'
    expect_line "$work/calls" '^ctest --preset tsan$'
    expect_line "$work/calls" '^ctest --preset asan$'
    expect_line "$work/build/fuzz/second.log" '^done$'
    expect_line "$work/out" '^  dev +FAILED +[0-9]+m[0-9]{2}s \(exit 8\)$'
    expect_line "$work/out" '^  kernel +passed '
    expect_line "$work/out" '^  release +passed +[0-9]+m[0-9]{2}s$'
    expect_line "$work/out" '^  fuzz +FAILED '
    expect_line "$work/out" '^  tsan +passed '
    expect_line "$work/out" '^  asan +passed '
    expect_line "$work/calls" '^guards ran$'
    expect_line "$work/out" '^  guards +passed '
    expect_line "$work/out" '^stages: 5 passed, 2 failed$'
    ;;
  all-stages-pass)
    printf '#!/bin/sh\nexit 0\n' > "$work/scripts/setup"
    stand_in cmake 'exit 0'
    stand_in ctest 'exit 0'
    PATH="$work/bin:$PATH" "$work/scripts/test" > "$work/out" 2>&1 || { cat "$work/out" >&2; fail "scripts/test failed"; }
    expect_line "$work/out" '^stages: 7 passed, 0 failed$'
    # One stage alone, when named.
    PATH="$work/bin:$PATH" "$work/scripts/test" guards > "$work/out" 2>&1 || { cat "$work/out" >&2; fail "scripts/test guards failed"; }
    expect_line "$work/out" '^stages: 1 passed, 0 failed$'
    ;;
  setup-sudo-refused)
    # A user for whom sudo is installed but not allowed: sudo's error, then the packages and the
    # command to run as root.
    stand_in dpkg-query 'exit 1'
    stand_in id 'echo 1000'
    stand_in sudo 'echo "Sorry, user nobody may not run sudo on this machine." >&2; exit 1'
    stand_in apt-get 'echo "apt-get ran without root" >&2; exit 100'
    if PATH="$work/bin:$PATH" "$work/scripts/setup" > "$work/out" 2>&1; then
      cat "$work/out" >&2; fail "scripts/setup passed without installing"
    fi
    expect_line "$work/out" 'may not run sudo'
    expect_line "$work/out" '^  cmake ninja-build g\+\+ .*libinput-tools$'
    expect_line "$work/out" 'through sudo failed'
    expect_line "$work/out" '^  apt-get update && apt-get install --no-install-recommends cmake '
    ;;
  setup-without-sudo)
    stand_in dpkg-query 'exit 1'
    stand_in id 'echo 1000'
    # PATH without sudo: only the stand-ins and what bash needs.
    for tool in bash grep dirname; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
    if PATH="$work/bin" "$work/scripts/setup" > "$work/out" 2>&1; then
      cat "$work/out" >&2; fail "scripts/setup passed without installing"
    fi
    expect_line "$work/out" 'sudo is not available'
    expect_line "$work/out" '^  apt-get update && apt-get install --no-install-recommends cmake '
    ;;
  setup-nothing-missing)
    stand_in dpkg-query 'printf "install ok installed"'
    stand_in sudo 'echo "sudo ran" >&2; exit 1'
    stand_in apt-get 'echo "apt-get ran" >&2; exit 1'
    PATH="$work/bin:$PATH" "$work/scripts/setup" > "$work/out" 2>&1 || { cat "$work/out" >&2; fail "scripts/setup failed"; }
    [ ! -s "$work/out" ] || { cat "$work/out" >&2; fail "scripts/setup printed something with nothing missing"; }
    ;;
  run-without-runtime-directory|run-killed-without-runtime-directory|run-planted-runtime-directory)
    # scripts/run without a display or a runtime directory: a virtual display and a private
    # runtime directory for the program, and nothing left in the temporary folder once it quit or
    # was killed (a planted folder is neither used nor removed).
    printf '#!/bin/sh\nexit 0\n' > "$work/scripts/setup"
    stand_in cmake 'echo "cmake $*" >> "$TW_CALLS"'
    export TW_CALLS="$work/calls"
    stand_in Xvfb 'echo 99 >&3; exec 3>&-; exec sleep 600'
    mkdir -p "$work/build/release" "$work/tmp"
    end='exit 0'
    [ "$case_name" = run-killed-without-runtime-directory ] && end='kill -KILL $$'
    cat > "$work/build/release/tindlewave" << PROGRAM
#!/bin/sh
[ "\$1" != --check-arguments ] || exit 0
echo "runtime=\$XDG_RUNTIME_DIR mode=\$(stat -c %a "\$XDG_RUNTIME_DIR") display=\$DISPLAY" > "$work/seen"
touch "\$XDG_RUNTIME_DIR/kept"
$end
PROGRAM
    chmod +x "$work/build/release/tindlewave"
    planted="$work/tmp/tindlewave-runtime-$(id -u)"
    if [ "$case_name" = run-planted-runtime-directory ]; then
      mkdir -m 777 "$planted"
      # Named as a killed run's, but a link: neither it nor what it points to is removed.
      ln -s "$planted" "$work/tmp/tindlewave-runtime-$(id -u)-999999999.AbC123"
    else
      # What runs killed with the script left: removed by the next run.
      mkdir -m 700 "$work/tmp/tindlewave-runtime-$(id -u)-999999999.AbC123" \
        "$work/tmp/tindlewave-run-$(id -u)-999999998.dEf456"
      touch "$work/tmp/tindlewave-run-$(id -u)-999999998.dEf456/display"
    fi
    status=0
    env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:$PATH" TMPDIR="$work/tmp" \
        "$work/scripts/run" > "$work/out" 2>&1 || status=$?
    expect_line "$work/seen" "^runtime=$work/tmp/tindlewave-run-[0-9]+-[0-9]+\\.[^/ ]+/runtime mode=700 display=:99\$"
    runtime_seen="$(sed -E 's/^runtime=([^ ]*) .*/\1/' "$work/seen")"
    # Only the program it starts is built.
    expect_line "$work/calls" '^cmake --build --preset release --target tindlewave$'

    left="$(cd "$work/tmp" && find . -mindepth 1 | sort)"
    case "$case_name" in
      run-without-runtime-directory)
        [ "$status" = 0 ] || { cat "$work/out" >&2; fail "scripts/run ended with $status"; }
        [ -z "$left" ] || fail "left in the temporary folder: $left"
        # The headless program likewise: it and the stand-in hidutil, then it runs.
        printf '#!/bin/sh\necho "headless $*"\n' > "$work/build/release/tindlewave-headless"
        chmod +x "$work/build/release/tindlewave-headless"
        PATH="$work/bin:$PATH" "$work/scripts/run" --headless --simulate > "$work/out" 2>&1 ||
          { cat "$work/out" >&2; fail "scripts/run --headless failed"; }
        expect_line "$work/out" '^headless --simulate$'
        expect_line "$work/calls" '^cmake --build --preset release --target tindlewave-headless hidutil-fake$'
        ! grep -qE -- '^cmake --build --preset release$' "$work/calls" || fail "scripts/run built every target"
        ;;
      run-killed-without-runtime-directory)
        [ "$status" = 137 ] || { cat "$work/out" >&2; fail "scripts/run ended with $status"; }
        [ -z "$left" ] || fail "left in the temporary folder: $left"
        ;;
      run-planted-runtime-directory)
        [ "$status" = 0 ] || { cat "$work/out" >&2; fail "scripts/run ended with $status"; }
        [ "$runtime_seen" != "$planted" ] || fail "the planted folder was used"
        [ "$left" = "$(printf './tindlewave-runtime-%s\n./tindlewave-runtime-%s-999999999.AbC123' "$(id -u)" "$(id -u)")" ] ||
          fail "left in the temporary folder: $left"
        ;;
    esac
    ;;
  run-script-killed)
    # scripts/run killed with SIGKILL: its program quits (which takes a while: it puts the devices
    # back) and only then does Xvfb end. A run's folder that a program still holds (its script
    # gone) is not removed by the next run; once let go, it is.
    printf '#!/bin/sh\nexit 0\n' > "$work/scripts/setup"
    stand_in cmake 'exit 0'
    # Xvfb says, when stopped, whether the program still ran.
    cat > "$work/bin/Xvfb" << XVFB
#!/usr/bin/env bash
echo \$\$ > "$work/xvfb.pid"
trap 'state="\$(ps -o stat= -p "\$(cat "$work/program.pid")" || true)"
      case "\$state" in "" | Z*) ;; *) echo "Xvfb stopped while the program ran" >> "$work/order" ;; esac
      exit 0' TERM
echo 99 >&3
exec 3>&-
while :; do sleep 0.05; done
XVFB
    chmod +x "$work/bin/Xvfb"
    mkdir -p "$work/build/release" "$work/tmp"
    cat > "$work/build/release/tindlewave" << PROGRAM
#!/bin/sh
[ "\$1" != --check-arguments ] || exit 0
echo \$\$ > "$work/program.pid"
trap 'sleep 2; exit 0' TERM
while :; do sleep 0.05; done
PROGRAM
    chmod +x "$work/build/release/tindlewave"
    held="$work/tmp/tindlewave-run-$(id -u)-999999999.AbC123"
    mkdir -m 700 "$held"
    touch "$held/display"
    (exec 8> "$held/lock"; flock 8; exec sleep 600) &
    holder=$!
    # Whatever the outcome, nothing this case started runs on after it.
    trap 'for f in program xvfb; do [ ! -s "$work/$f.pid" ] || kill -KILL "$(cat "$work/$f.pid")" 2> /dev/null || true; done
          kill -KILL "$holder" 2> /dev/null || true; rm -rf "$work"' EXIT
    for _ in $(seq 600); do flock --nonblock "$held/lock" true || break; sleep 0.05; done
    gone() { ! kill -0 "$1" 2> /dev/null || [ "$(ps -o stat= -p "$1")" = Z ]; }
    env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:$PATH" TMPDIR="$work/tmp" \
      "$work/scripts/run" > "$work/out" 2>&1 &
    script=$!
    for _ in $(seq 600); do [ -s "$work/program.pid" ] && break; sleep 0.05; done
    [ -s "$work/program.pid" ] || { cat "$work/out" >&2; fail "the program did not start"; }
    [ -d "$held" ] || fail "a folder still held was removed"
    kill -KILL "$script"
    wait "$script" 2> /dev/null || true
    for _ in $(seq 600); do gone "$(cat "$work/program.pid")" && gone "$(cat "$work/xvfb.pid")" && break; sleep 0.05; done
    gone "$(cat "$work/program.pid")" || fail "the program runs on after its script was killed"
    gone "$(cat "$work/xvfb.pid")" || fail "Xvfb runs on after its script was killed"
    [ ! -s "$work/order" ] || fail "$(cat "$work/order")"
    # Xvfb's keeper killed too (a kill of everything the script started): Xvfb ends with it.
    rm -f "$work/program.pid" "$work/xvfb.pid"
    env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:$PATH" TMPDIR="$work/tmp" \
      "$work/scripts/run" > "$work/out" 2>&1 &
    script=$!
    for _ in $(seq 600); do [ -s "$work/program.pid" ] && [ -s "$work/xvfb.pid" ] && break; sleep 0.05; done
    [ -s "$work/program.pid" ] || { cat "$work/out" >&2; fail "the program did not start again"; }
    keeper="$(ps -o ppid= -p "$(cat "$work/xvfb.pid")" | tr -d ' ')"
    [ -n "$keeper" ] && [ "$keeper" != 1 ] || fail "Xvfb has no keeper"
    kill -KILL "$keeper" "$script"
    wait "$script" 2> /dev/null || true
    for _ in $(seq 600); do gone "$(cat "$work/program.pid")" && gone "$(cat "$work/xvfb.pid")" && break; sleep 0.05; done
    gone "$(cat "$work/xvfb.pid")" || fail "Xvfb runs on after its keeper was killed"
    gone "$(cat "$work/program.pid")" || fail "the program runs on after its script was killed"
    kill "$holder"
    wait "$holder" 2> /dev/null || true
    printf '#!/bin/sh\nexit 0\n' > "$work/build/release/tindlewave"
    env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:$PATH" TMPDIR="$work/tmp" \
      "$work/scripts/run" > "$work/out" 2>&1 || { cat "$work/out" >&2; fail "scripts/run failed"; }
    left="$(cd "$work/tmp" && find . -mindepth 1 | sort)"
    [ -z "$left" ] || fail "left in the temporary folder: $left"
    ;;
  run-signalled-waits-for-the-program|run-unreaped-program-ends-the-display)
    # scripts/run's program and virtual display: a program that ends on its own, or takes its time
    # to quit on a signal the script passes on, has its display and its runtime directory until it
    # has ended; and the display goes once the program has ended, even while nothing reaps it.
    printf '#!/bin/sh\nexit 0\n' > "$work/scripts/setup"
    stand_in cmake 'exit 0'
    # Xvfb says, when stopped, whether the program still ran.
    cat > "$work/bin/Xvfb" << XVFB
#!/usr/bin/env bash
echo \$\$ > "$work/xvfb.pid"
trap 'state="\$(ps -o stat= -p "\$(cat "$work/program.pid")" || true)"
      case "\$state" in "" | Z*) ;; *) echo "Xvfb stopped while the program ran" >> "$work/order" ;; esac
      exit 0' TERM
echo 99 >&3
exec 3>&-
while :; do sleep 0.05; done
XVFB
    chmod +x "$work/bin/Xvfb"
    mkdir -p "$work/build/release" "$work/tmp"
    # The program quits a while after a signal (it puts the devices back), or when told by a file;
    # it says whether its display and its runtime directory were still there at its end.
    cat > "$work/build/release/tindlewave" << PROGRAM
#!/bin/sh
[ "\$1" != --check-arguments ] || exit 0
quit() {
  sleep 1
  [ -d "\$XDG_RUNTIME_DIR" ] || echo "the runtime directory was removed while the program quit" >> "$work/order"
  kill -0 "\$(cat "$work/xvfb.pid")" 2> /dev/null || echo "Xvfb was gone while the program quit" >> "$work/order"
  echo "\$1" > "$work/ended"
  exit 0
}
trap 'quit INT' INT
trap 'quit TERM' TERM
trap 'quit HUP' HUP
echo \$\$ > "$work/program.pid"
while [ ! -e "$work/quit" ]; do sleep 0.05; done
echo itself > "$work/ended"
PROGRAM
    chmod +x "$work/build/release/tindlewave"
    trap 'for f in program xvfb; do [ ! -s "$work/$f.pid" ] || kill -KILL "$(cat "$work/$f.pid")" 2> /dev/null || true; done
          [ -z "${script:-}" ] || kill -KILL "$script" 2> /dev/null || true; rm -rf "$work"' EXIT
    state() { ps -o stat= -p "$1" 2> /dev/null || true; }
    gone() { ! kill -0 "$1" 2> /dev/null || [ "$(state "$1")" = Z ]; }
    start() {
      rm -f "$work/program.pid" "$work/xvfb.pid" "$work/ended" "$work/quit" "$work/order"
      # With job control, as from a terminal: the script may be interrupted (a background job
      # without it ignores SIGINT).
      set -m
      env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:$PATH" TMPDIR="$work/tmp" \
        "$work/scripts/run" > "$work/out" 2>&1 &
      script=$!
      set +m
      for _ in $(seq 600); do [ -s "$work/program.pid" ] && [ -s "$work/xvfb.pid" ] && break; sleep 0.05; done
      [ -s "$work/program.pid" ] && [ -s "$work/xvfb.pid" ] || { cat "$work/out" >&2; fail "the program did not start"; }
    }
    finish() {  # the script's end: with success, its program ended as it said, nothing left behind
      local status=0
      wait "$script" || status=$?
      script=""
      [ "$status" = 0 ] || { cat "$work/out" >&2; fail "scripts/run ended with $status"; }
      [ "$(cat "$work/ended" 2> /dev/null)" = "$1" ] || fail "the program had not ended when scripts/run did"
      [ ! -s "$work/order" ] || fail "$(cat "$work/order")"
      gone "$(cat "$work/xvfb.pid")" || fail "Xvfb runs on after scripts/run ended"
      left="$(cd "$work/tmp" && find . -mindepth 1 | sort)"
      [ -z "$left" ] || fail "left in the temporary folder: $left"
    }
    case "$case_name" in
      run-signalled-waits-for-the-program)
        # Ctrl-C, SIGTERM, a closed terminal: the script waits for the program's quit.
        for signal in INT TERM HUP; do
          start
          kill "-$signal" "$script"
          finish "$signal"
        done
        ;;
      run-unreaped-program-ends-the-display)
        # The script stopped: the program's end stays unreaped, and its display goes all the same.
        start
        kill -STOP "$script"
        for _ in $(seq 600); do case "$(state "$script")" in T*) break ;; esac; sleep 0.05; done
        touch "$work/quit"
        for _ in $(seq 600); do [ "$(state "$(cat "$work/program.pid")")" = Z ] && break; sleep 0.05; done
        [ "$(state "$(cat "$work/program.pid")")" = Z ] || fail "the program did not end"
        for _ in $(seq 600); do gone "$(cat "$work/xvfb.pid")" && break; sleep 0.05; done
        gone "$(cat "$work/xvfb.pid")" || fail "Xvfb runs on after the program ended, while its end is not reaped"
        case "$(state "$script")" in T*) ;; *) fail "scripts/run went on while stopped" ;; esac
        kill -CONT "$script"
        finish itself
        ;;
    esac
    ;;
  run-refuses-arguments)
    # An argument the program does not take is refused before a virtual display starts for it.
    printf '#!/bin/sh\nexit 0\n' > "$work/scripts/setup"
    stand_in cmake 'exit 0'
    stand_in Xvfb "touch '$work/xvfb-started'; echo 99 >&3; exec 3>&-; exec sleep 600"
    mkdir -p "$work/build/release" "$work/tmp"
    cat > "$work/build/release/tindlewave" << PROGRAM
#!/bin/sh
[ "\$1" = --check-arguments ] || { touch "$work/started"; exit 0; }
shift
for argument; do
  [ "\$argument" != --bogus ] || { echo 'tindlewave: unknown argument "--bogus"' >&2; exit 2; }
done
PROGRAM
    chmod +x "$work/build/release/tindlewave"
    status=0
    env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:$PATH" TMPDIR="$work/tmp" \
      "$work/scripts/run" --simulate --bogus > "$work/out" 2>&1 || status=$?
    [ "$status" = 2 ] || { cat "$work/out" >&2; fail "scripts/run --bogus ended with $status"; }
    expect_line "$work/out" 'unknown argument "--bogus"'
    [ ! -e "$work/xvfb-started" ] || fail "a virtual display started for arguments the program refuses"
    [ ! -e "$work/started" ] || fail "the program started with arguments it refuses"
    ! grep -q "virtual display" "$work/out" || { cat "$work/out" >&2; fail "a virtual display was announced"; }
    left="$(cd "$work/tmp" && find . -mindepth 1 | sort)"
    [ -z "$left" ] || fail "left in the temporary folder: $left"
    ;;
  *)
    fail "no case $case_name"
    ;;
esac
echo "$case_name: passed"
