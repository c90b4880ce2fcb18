#!/usr/bin/env bash
# The kernel tier's boots: runs every scenario of the scenario program inside virtual machines that
# boot this machine's Debian kernel under QEMU (TCG) over this machine's root file system.
#
#   run-vms.sh SOURCE BUILD PROGRAM RESULTS
#
# SOURCE and BUILD are the source and build folders (the guest sees both at the same paths),
# PROGRAM the scenario program in BUILD, RESULTS the folder this run writes (the initrd, one
# folder per boot with each scenario's output, status and time). Scenarios are spread over
# TW_KERNEL_BOOTS machines (default: one per two cores, at most three) booted side by side, by
# their times in the previous run. TW_KERNEL_FILTER (a GoogleTest filter) picks scenarios;
# TW_KERNEL_PROGRAMS (a build folder, absolute) runs its tindlewave-headless and tindlewave in
# place of the scenario program's own build's (the optimised ones, say). A
# machine is stopped only when it shows no sign of life for TW_KERNEL_SILENT_SECONDS (600).
# Without root, QEMU, cpio or a kernel image it writes RESULTS/skipped, says which is missing and
# exits 77; the scenarios' entries then skip too.
set -uo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 SOURCE BUILD PROGRAM RESULTS" >&2
  exit 2
fi
source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
program=$3
results=$4
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$results"
results=$(realpath "$results")
rm -rf "$results"/boot-* "$results/skipped"

skip() {
  echo "kernel tier skipped: $*" | tee "$results/skipped"
  exit 77
}

[ "$(id -u)" -eq 0 ] || skip "it needs root (uhid, uinput and udev inside the machine are root's)"
qemu=$(command -v qemu-system-x86_64) || skip "qemu-system-x86_64 is not installed (package qemu-system-x86)"
command -v cpio > /dev/null || skip "cpio is not installed"
kernel=$(ls /boot/vmlinuz-* 2> /dev/null | sort -V | tail -n 1)
[ -n "$kernel" ] || skip "no kernel image in /boot (package linux-image-amd64)"
version=${kernel#/boot/vmlinuz-}
[ -f "/boot/initrd.img-$version" ] || skip "no initrd for kernel $version in /boot"
[ -d "/lib/modules/$version" ] || skip "no modules for kernel $version in /lib/modules"
for path in "$source_dir" "$build_dir" "$results"; do
  case "$path" in
    *,* | *\'* | *' '*) echo "kernel tier: $path: paths with commas, quotes or spaces cannot be shared with the machine" >&2
               exit 1 ;;
  esac
done
[ -x "$program" ] || { echo "kernel tier: $program: no such program (build it first)" >&2; exit 1; }

# The initrd: stage 1 and the modules it needs before the host's root is mounted, as an archive
# of its own in front of Debian's (the kernel unpacks both; one appended after a zstd archive is
# not found). Made again when stage 1 or the kernel changed.
initrd=$results/initrd-$version.img
if [ ! -f "$initrd" ] || [ "$here/Guest/vminit" -nt "$initrd" ] || [ "$0" -nt "$initrd" ] || [ "/boot/initrd.img-$version" -nt "$initrd" ]; then
  work=$(mktemp -d)
  mkdir -p "$work/vmmods"
  install -m 755 "$here/Guest/vminit" "$work/vminit"
  for module in virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p; do
    file=$(modinfo -k "$version" -n "$module" 2> /dev/null) || continue  # built into the kernel
    case "$file" in
      *.ko) cp "$file" "$work/vmmods/$module.ko" ;;
      *.ko.xz) xz -dc "$file" > "$work/vmmods/$module.ko" ;;
      *.ko.zst) zstd -qdc "$file" > "$work/vmmods/$module.ko" ;;
    esac
  done
  (cd "$work" && find vminit vmmods | cpio -o -H newc --owner=0:0 --quiet) > "$work/extra.cpio"
  cat "$work/extra.cpio" "/boot/initrd.img-$version" > "$initrd.tmp" && mv "$initrd.tmp" "$initrd"
  rm -rf "$work"
fi

# The scenarios, longest first by the previous run's times (30 s for one not seen yet), each given
# to the boot with the least work so far.
mapfile -t names < <("$program" --gtest_list_tests --gtest_filter="${TW_KERNEL_FILTER:-*}" |
  awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
if [ ${#names[@]} -eq 0 ]; then
  echo "kernel tier: no scenario matches '${TW_KERNEL_FILTER:-*}'" >&2
  exit 1
fi
# Other programs' udev rules on this machine would be the machines' too: they are masked there.
bash "$here/foreign-udev-rules.sh" "$source_dir" > "$results/foreign-udev-rules" ||
  { echo "kernel tier: the machine's udev rules could not be told apart" >&2; exit 1; }
if [ -s "$results/foreign-udev-rules" ]; then
  echo "kernel tier: udev rules masked in the machines (neither the system's nor the project's):"
  awk -F'\t' '{ print "  " $1 ($2 == "-" ? " (no package)" : " (package " $2 ")") }' "$results/foreign-udev-rules"
fi

durations=$results/durations
touch "$durations"
boots=${TW_KERNEL_BOOTS:-$(( $(nproc) / 2 ))}
(( boots < 1 )) && boots=1
(( boots > 3 )) && boots=3
(( boots > ${#names[@]} )) && boots=${#names[@]}
declare -a load
for ((b = 1; b <= boots; b++)); do
  mkdir -p "$results/boot-$b"
  : > "$results/boot-$b/plan"
  cp "$results/foreign-udev-rules" "$results/boot-$b/foreign-udev-rules"
  load[b]=0
  cat > "$results/boot-$b/boot.env" <<ENV
TW_SOURCE='$source_dir'
TW_BUILD='$build_dir'
TW_PROGRAM='$program'
TW_KERNEL_PROGRAMS='${TW_KERNEL_PROGRAMS:-}'
TW_SCENARIO_SECONDS=${TW_KERNEL_SCENARIO_SECONDS:-240}
ENV
done
while read -r seconds name; do
  best=1
  for ((b = 2; b <= boots; b++)); do (( load[b] < load[best] )) && best=$b; done
  echo "$name" >> "$results/boot-$best/plan"
  load[best]=$(( load[best] + seconds ))
done < <(for name in "${names[@]}"; do
           seconds=$(awk -v n="$name" '$1 == n { print int($2) + 1 }' "$durations")
           echo "${seconds:-30} $name"
         done | sort -rn)

# Keys on the machine's own (i8042) keyboard, which nothing inside it can press: a scenario writes
# a request file to keys/ in its share, lines of "down QCODE" or "up QCODE" (QEMU's key names),
# and this relay sends them through QEMU's control channel (QMP, on a pair of pipes outside the
# share) and renames the file to .done once sent.
relay_keys() {
  local dir=$1 pipe=$2 qemu_pid=$3
  exec 3<> "$pipe.in"  # never blocks, even when QEMU did not start
  cat "$pipe.out" > "$pipe.log" &
  local drain=$!
  echo '{"execute":"qmp_capabilities"}' >&3
  while kill -0 "$qemu_pid" 2> /dev/null; do
    for request in "$dir"/keys/*.req; do
      [ -f "$request" ] || continue
      while read -r action key; do
        [ -n "$key" ] || continue
        local down=false
        [ "$action" = down ] && down=true
        printf '{"execute":"input-send-event","arguments":{"events":[{"type":"key","data":{"down":%s,"key":{"type":"qcode","data":"%s"}}}]}}\n' \
          "$down" "$key" >&3
      done < "$request"
      mv "$request" "${request%.req}.done"
    done
    sleep 0.05
  done
  exec 3>&-
  kill "$drain" 2> /dev/null
  wait "$drain" 2> /dev/null
}

# Stops a machine that shows no sign of life for $silence s: before stage 2 nothing written to its
# console, after it no heartbeat (stage 2 writes `alive` every few seconds). A slow machine (the
# host loaded) goes on as long as it lives: each scenario has a limit of its own in the machine,
# scaled by the machine's pace.
silence=${TW_KERNEL_SILENT_SECONDS:-600}
watch_boot() {
  local dir=$1 qemu_pid=$2 newest now
  while kill -0 "$qemu_pid" 2> /dev/null; do
    sleep 5
    newest=$(stat -c %Y "$dir/console.log" "$dir/alive" 2> /dev/null | sort -n | tail -n 1)
    now=$(date +%s)
    if [ -n "$newest" ] && (( now - newest > silence )); then
      echo "kernel tier: $(basename "$dir") showed no sign of life for $silence s; stopping it" \
        | tee -a "$dir/stopped"
      kill "$qemu_pid" 2> /dev/null
      sleep 10
      kill -9 "$qemu_pid" 2> /dev/null
      return
    fi
  done
}

# The boots, side by side. Each runs its plan and powers off.
started=$(date +%s)
# One machine: booted, and booted once more when it died before stage 2 (under heavy load, TCG's
# timers can fail the kernel's early checks).
run_boot() {
  local b=$1 attempt rc
  local dir=$results/boot-$b pipe=$results/qmp-$b
  for attempt in 1 2; do
    rm -f "$pipe".* "$dir/stages.log" "$dir/alive" "$dir/stopped"
    mkfifo "$pipe.in" "$pipe.out"
    mkdir -p "$dir/keys"
    "$qemu" -accel tcg -cpu max -m 1536 -smp 2 \
      -kernel "$kernel" -initrd "$initrd" \
      -append "console=ttyS0 panic=-1 rdinit=/vminit quiet loglevel=4 no_timer_check" \
      -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
      -virtfs "local,path=$source_dir,mount_tag=source,security_model=none,readonly=on,multidevs=remap" \
      -virtfs "local,path=$build_dir,mount_tag=build,security_model=none,readonly=on,multidevs=remap" \
      -virtfs "local,path=$dir,mount_tag=out,security_model=none" \
      -chardev "pipe,id=qmp,path=$pipe" -mon chardev=qmp,mode=control \
      -nographic -no-reboot -nic none < /dev/null > "$dir/console.log" 2>&1 &
    local machine=$!
    relay_keys "$dir" "$pipe" "$machine" &
    local relay=$!
    watch_boot "$dir" "$machine" &
    local watchdog=$!
    wait "$machine"
    rc=$?
    wait "$relay"
    kill "$watchdog" 2> /dev/null
    wait "$watchdog" 2> /dev/null
    rm -f "$pipe".in "$pipe".out
    echo "$rc" > "$dir/qemu-status"
    grep -q "stage 2" "$dir/stages.log" 2> /dev/null && return
    if [ "$attempt" = 1 ]; then
      mv "$dir/console.log" "$dir/console-first.log"
      echo "kernel tier: boot $b died before stage 2 (console-first.log); booting it again"
    fi
  done
}

pids=()
for ((b = 1; b <= boots; b++)); do
  run_boot "$b" &
  pids+=($!)
done
status=0
for ((b = 1; b <= boots; b++)); do
  wait "${pids[b - 1]}"
  dir=$results/boot-$b
  if ! grep -q "power off" "$dir/stages.log" 2> /dev/null; then
    echo "kernel tier: boot $b did not finish (QEMU status $(cat "$dir/qemu-status" 2> /dev/null)); its console's last lines:"
    tail -n 30 "$dir/console.log"
    status=1
  fi
done
echo "kernel tier: ${#names[@]} scenarios in $boots boots, $(( $(date +%s) - started )) s"

# Keep this run's times for the next one's spread.
for ((b = 1; b <= boots; b++)); do
  for file in "$results/boot-$b"/*.seconds; do
    [ -f "$file" ] || continue
    name=$(basename "$file" .seconds)
    awk -v n="$name" '$1 != n' "$durations" > "$durations.tmp"
    echo "$name $(cat "$file")" >> "$durations.tmp"
    mv "$durations.tmp" "$durations"
  done
  for name in $(cat "$results/boot-$b/plan"); do
    printf '%-60s %s\n' "$name" "$(cat "$results/boot-$b/$name.seconds" 2> /dev/null || echo '-')"
  done
done
exit $status
