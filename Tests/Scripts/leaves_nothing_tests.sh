#!/usr/bin/env bash
# Each program, run without a runtime directory (as under su, SSH, in a container or CI), leaves
# nothing in the temporary folder: `leaves_nothing_tests.sh CASE PROGRAM` runs PROGRAM with a
# private TMPDIR and home and lists that folder before and after.
set -euo pipefail
case_name="$1"
program="$2"
work="$(mktemp -d)"
pid="" xvfb=""
# A case that fails half-way leaves neither its program nor its display running.
trap '[ -z "$pid" ] || kill -TERM "$pid" 2> /dev/null; [ -z "$xvfb" ] || kill -TERM "$xvfb" 2> /dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/tmp" "$work/home"
fail() { echo "FAILED: $*" >&2; cat "$work/out" >&2 2> /dev/null || true; exit 1; }
listed() { (cd "$work/tmp" && find . -mindepth 1 | sort); }

run() {  # run ARGS...: the program in the background, its output in $work/out, its input $work/in
  touch "$work/in"
  env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
      TMPDIR="$work/tmp" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
      XDG_STATE_HOME="$work/home/.local/state" XDG_CACHE_HOME="$work/home/.cache" \
      QT_QPA_PLATFORM=offscreen "$program" "$@" < "$work/in" > "$work/out" 2>&1 &
  pid=$!
}
# Waits up to 60 s for a line of the output matching REGEX.
await_line() {
  for _ in $(seq 600); do
    grep -qE -- "$1" "$work/out" 2> /dev/null && return 0
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  grep -qE -- "$1" "$work/out" 2> /dev/null || fail "no line matching '$1'"
}
# Waits up to 60 s for the program to end; kills it after that.
await_end() {
  for _ in $(seq 600); do
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2> /dev/null; then
    kill -KILL "$pid"
    fail "the program did not end within 60 s"
  fi
  local status=0
  wait "$pid" || status=$?
  pid=""
  [ "$status" = 0 ] || fail "the program ended with status $status"
}

before="$(listed)"
case "$case_name" in
  headless-simulated)
    # Commands run in order, each one's effects handled before the next: quit comes last.
    printf 'wait applied\nmouse 1\nquit\n' > "$work/in"
    run --simulate
    await_end
    grep -q "MX Master 3" "$work/out" || fail "the simulated mouse did not show"
    ;;
  program-simulated|program-real)
    args=()
    [ "$case_name" = program-simulated ] && args=(--simulate)
    run "${args[@]}"
    await_line "standard error is not a terminal"
    kill -TERM "$pid"
    await_end
    ;;
  program-display-gone)
    # The toolkit ends the program when its display goes away (once the devices are put back),
    # before the program's own end runs.
    command -v Xvfb > /dev/null || { echo "skipped: Xvfb is not installed"; exit 77; }
    Xvfb -displayfd 3 -nolisten tcp 3> "$work/display" > /dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
    number=$(cat "$work/display")
    [ -n "$number" ] || { kill "$xvfb"; fail "Xvfb gave no display within 30 s"; }
    touch "$work/in"
    env -u XDG_RUNTIME_DIR -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
        TMPDIR="$work/tmp" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
        XDG_STATE_HOME="$work/home/.local/state" XDG_CACHE_HOME="$work/home/.cache" \
        DISPLAY=":$number" QT_QPA_PLATFORM=xcb "$program" --simulate < "$work/in" > "$work/out" 2>&1 &
    pid=$!
    await_line "standard error is not a terminal"
    kill -TERM "$xvfb"
    wait "$xvfb" || true
    xvfb=""
    for _ in $(seq 600); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2> /dev/null && { kill -KILL "$pid"; fail "the program outlived its display by 60 s"; }
    wait "$pid" || true
    pid=""
    ;;
  *)
    fail "no case $case_name"
    ;;
esac
after="$(listed)"
[ "$before" = "$after" ] || fail "left in the temporary folder:
$(diff <(echo "$before") <(echo "$after") || true)"
echo "$case_name: passed"
