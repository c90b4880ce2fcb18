#!/usr/bin/env bash
# `cmake --install` of a build folder into a temporary prefix, then the installed headless program
# over the simulated world: it finds its recorded mice and runs the stand-in hidutil as the built
# one does. `install_tests.sh BUILD_FOLDER`.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; cat "$work/out" >&2 2> /dev/null || true; exit 1; }

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log" 2>&1 \
  || { cat "$work/install.log" >&2; fail "cmake --install failed"; }
for file in bin/tindlewave-headless libexec/tindlewave/hidutil-fake \
            share/tindlewave/devices/MX-Master-3-Wireless-Mouse-B023.json \
            share/tindlewave/udev/70-tindlewave.rules; do
  [ -e "$work/prefix/$file" ] || fail "not installed: $file"
done
if [ -x "$build/tindlewave" ]; then
  [ -x "$work/prefix/bin/tindlewave" ] || fail "not installed: bin/tindlewave"
fi

# The hyper key on the built-in keyboard: its key map is written through the stand-in hidutil.
mkdir -p "$work/home/.config/tindlewave" "$work/tmp"
cat > "$work/home/.config/tindlewave/config.json" << 'CONFIG'
{
  "version": 1,
  "hyper": { "enabled": true, "key": "capsLock", "onTap": "nothing" },
  "devices": [
    { "match": { "builtIn": true }, "name": "Built-in keyboard", "kind": "keyboard", "hyper": true }
  ],
  "ignored": []
}
CONFIG
printf 'wait applied 30\ndevices\nquit\n' > "$work/in"
status=0
(cd "$work" && env -u XDG_RUNTIME_DIR HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
   XDG_STATE_HOME="$work/home/.local/state" TMPDIR="$work/tmp" \
   timeout 120 "$work/prefix/bin/tindlewave-headless" --simulate < "$work/in" > "$work/out" 2>&1) \
  || status=$?
[ "$status" = 0 ] || fail "the installed headless program ended with $status"
grep -q "MX Master 3" "$work/out" || fail "the installed program found no recorded mouse"
grep -q "hyper on" "$work/out" || fail "the hyper key was not set up through the installed hidutil"
! grep -q "hidutil exited" "$work/out" || fail "the installed hidutil did not run"
echo "install: passed"
