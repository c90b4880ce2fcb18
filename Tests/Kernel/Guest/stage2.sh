#!/bin/bash
# Stage 2 of the kernel tier's virtual machine: inside the host's root (read-only, with tmpfs on
# /tmp and /run), loads the kernel's input and HID drivers, masks other programs' udev rules, starts
# udevd, then runs each scenario named in the plan as its own process and leaves its output, exit
# status and time in the results share (/run/tw-kernel), and powers off. Before each scenario it
# measures the machine's pace (the scenario program's fixed piece of work, and udev's announcement
# of a new input device), which scales the scenario's limits. Each scenario's log starts with the
# rules masked and the pace.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LANG=C.UTF-8 LC_ALL=C.UTF-8
out=/run/tw-kernel
. "$out/boot.env"
uptime() { cut -d' ' -f1 /proc/uptime; }
say() { echo "[$(uptime)] $*" >> "$out/stages.log"; }
poweroff() {
  dmesg > "$out/dmesg.txt" 2>&1
  say "power off"
  sync
  echo o > /proc/sysrq-trigger
  sleep 60
}
say "stage 2"
# The machine's heartbeat: the boot runner stops a machine whose heartbeat stopped (hung), however
# long its scenarios take.
(while :; do date +%s > "$out/alive"; sleep 5; done) &
hostname tw-kernel-guest 2>/dev/null
for m in uhid uinput evdev hid-generic hid-logitech-dj hid-logitech-hidpp; do
  modprobe "$m" || say "modprobe $m failed"
done
# Other programs' udev rules (run-vms.sh lists them) are masked before udevd starts.
masked_line=$(bash "$TW_SOURCE/Tests/Kernel/Guest/mask-rules.sh" "$out/foreign-udev-rules")
say "$masked_line"
# udevd with names resolved (--resolve-names=never would drop a rule's GROUP=), told of the
# subsystems the scenarios use only: a full trigger costs several seconds more.
/lib/systemd/systemd-udevd --daemon
udevadm trigger --action=add --subsystem-match=input --subsystem-match=hidraw \
  --subsystem-match=misc --subsystem-match=hid
udevadm settle --timeout=60
say "ready: $(ls /dev/uhid /dev/uinput 2>&1 | tr '\n' ' ')"
: > "$out/ready"

while read -r name; do
  [ -n "$name" ] || continue
  mkdir -p "$out/$name"
  # The machine's pace now (1: as fast as under no load): the scenario's waits and its own time
  # limit scale with it, so a machine slowed by the host's load waits longer rather than failing.
  # The program prints it, then a line telling what it was measured from.
  measured=$(TW_KERNEL_MEASURE_PACE=1 "$TW_PROGRAM" 2> /dev/null)
  pace=${measured%%$'\n'*}
  pace_line=${measured#*$'\n'}
  [[ "$pace" =~ ^[0-9]+(\.[0-9]+)?$ ]] || { pace=1; pace_line="machine pace: not measured, 1 taken"; }
  seconds=$(awk -v s="$TW_SCENARIO_SECONDS" -v p="$pace" 'BEGIN { printf "%d", s * (p < 1 ? 1 : p) }')
  start=$(date +%s%N)
  say "scenario $name (at most $seconds s; $pace_line)"
  printf '%s\n%s\n' "$masked_line" "$pace_line" > "$out/$name.log"
  TW_KERNEL_ARTEFACTS="$out/$name" TW_GUEST_PACE="$pace" TW_KERNEL_PROGRAMS="${TW_KERNEL_PROGRAMS:-}" \
    timeout -k 5 "$seconds" \
    "$TW_PROGRAM" --gtest_filter="$name" --gtest_color=no >> "$out/$name.log" 2>&1
  status=$?
  udevadm settle --timeout=30
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  printf '%d.%03d\n' $((ms / 1000)) $((ms % 1000)) > "$out/$name.seconds"
  echo "$status" > "$out/$name.status"
  say "scenario $name: status $status after $(cat "$out/$name.seconds") s"
done < "$out/plan"
poweroff
