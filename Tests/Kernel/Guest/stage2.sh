#!/bin/bash
# Stage 2 of the kernel tier's virtual machine: inside the host's root (read-only, with tmpfs on
# /tmp and /run), loads the kernel's input and HID drivers, starts udevd, then runs each scenario
# named in the plan as its own process and leaves its output, exit status and time in the results
# share (/run/tw-kernel), and powers off.
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
hostname tw-kernel-guest 2>/dev/null
for m in uhid uinput evdev hid-generic hid-logitech-dj hid-logitech-hidpp; do
  modprobe "$m" || say "modprobe $m failed"
done
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
  start=$(date +%s%N)
  say "scenario $name"
  TW_KERNEL_ARTEFACTS="$out/$name" timeout -k 5 "$TW_SCENARIO_SECONDS" \
    "$TW_PROGRAM" --gtest_filter="$name" --gtest_color=no > "$out/$name.log" 2>&1
  status=$?
  udevadm settle --timeout=30
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  printf '%d.%03d\n' $((ms / 1000)) $((ms % 1000)) > "$out/$name.seconds"
  echo "$status" > "$out/$name.status"
  say "scenario $name: status $status after $(cat "$out/$name.seconds") s"
done < "$out/plan"
poweroff
