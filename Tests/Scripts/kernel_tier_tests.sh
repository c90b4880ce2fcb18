#!/usr/bin/env bash
# The kernel tier's own parts that run outside its machines: `kernel_tier_tests.sh ROOT` checks that
# the rules masked in the machines are this machine's rules that are neither the system's nor the
# project's, and (as root) that masking them in a mount namespace of its own leaves the folder's
# other files.
set -euo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
expect_line() {  # expect_line FILE REGEX
  grep -qE -- "$2" "$1" || { cat "$1" >&2; fail "no line matches '$2'"; }
}
expect_no_line() {  # expect_no_line FILE REGEX
  ! grep -qE -- "$2" "$1" || { cat "$1" >&2; fail "a line matches '$2'"; }
}

# A folder of rules beside the system's: one of no package, the project's rule as it is and the
# keyboards' rule changed (not this build's), and a file udev does not read.
rules="$work/rules"
mkdir -p "$rules"
echo 'ACTION=="add", SUBSYSTEM=="input", RUN+="/bin/true"' > "$rules/99-planted.rules"
cp "$root/Data/udev/70-tindlewave.rules" "$rules/"
{ cat "$root/Data/udev/71-tindlewave-keyboards.rules"; echo '# changed'; } > "$rules/71-tindlewave-keyboards.rules"
echo 'not read by udev' > "$rules/README"
bash "$root/Tests/Kernel/foreign-udev-rules.sh" "$root" "$rules" /lib/udev/rules.d /usr/lib/udev/rules.d \
  > "$work/foreign" || fail "foreign-udev-rules.sh failed"
expect_line "$work/foreign" "^$rules/99-planted\.rules	-\$"
expect_line "$work/foreign" "^$rules/71-tindlewave-keyboards\.rules	-\$"
expect_no_line "$work/foreign" '/70-tindlewave\.rules|/README'
# The system's own: udev's, and libinput's (a package the build's setup installs needs it).
for system_rule in 50-udev-default.rules 60-evdev.rules 80-libinput-device-groups.rules; do
  [ -e "/usr/lib/udev/rules.d/$system_rule" ] || [ -e "/lib/udev/rules.d/$system_rule" ] ||
    fail "$system_rule is not installed (run scripts/setup)"
  expect_no_line "$work/foreign" "/$system_rule	"
done

if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2> /dev/null; then
  echo "kernel-tier rules: listing passed; masking not tried (it needs root and mount namespaces)"
  exit 0
fi
unshare -m bash -c '"$1" "$2" > "$3/said" && ls -A "$4" > "$3/left"' _ \
  "$root/Tests/Kernel/Guest/mask-rules.sh" "$work/foreign" "$work" "$rules" || fail "mask-rules.sh failed"
expect_line "$work/said" "^udev rules masked in this machine \(neither the system's nor the project's\): .*$rules/99-planted\.rules \(no package\)"
expect_line "$work/said" "$rules/71-tindlewave-keyboards\.rules \(no package\)"
[ "$(cat "$work/left")" = "$(printf '70-tindlewave.rules\nREADME')" ] || fail "left in the folder: $(cat "$work/left")"
[ -f "$rules/99-planted.rules" ] || fail "the folder was masked outside the namespace"
echo "kernel-tier rules: passed"
