#!/usr/bin/env bash
# One kernel-tier scenario's ctest entry: reads what the boot left for it and judges it.
#
#   verdict.sh RESULTS SCENARIO KNOWN_FAILURES
#
# Passes when the scenario passed; a scenario listed in KNOWN_FAILURES (known-failures.txt) that
# failed passes with a note, and one listed there that passed fails, so that its mark is removed.
# Exits 77 (skipped) when the boot was skipped.
set -uo pipefail
results=$1
name=$2
known=$3

if [ -f "$results/skipped" ]; then
  cat "$results/skipped"
  exit 77
fi
status_file=$(ls "$results"/boot-*/"$name.status" 2> /dev/null | head -n 1)
if [ -z "$status_file" ]; then
  if ! grep -qx "$name" "$results"/boot-*/plan 2> /dev/null; then
    echo "$name was not run: TW_KERNEL_FILTER left it out"
    exit 77
  fi
  echo "$name did not run: its boot ended before it. The boots' last stages:"
  tail -n 5 "$results"/boot-*/stages.log 2> /dev/null
  exit 1
fi
dir=$(dirname "$status_file")
status=$(cat "$status_file")
cat "$dir/$name.log"
echo "--- $name: exit status $status after $(cat "$dir/$name.seconds" 2> /dev/null) s in the machine (output and files in $dir)"
if head -n 1 "$dir/$name.log" | grep -q "MASKING FAILED"; then
  echo "$name: its machine could not mask other programs' udev rules, so its result is not the program's alone"
  exit 1
fi
reason=$(awk -v n="$name" '$1 == n { $1 = ""; sub(/^ +/, ""); print; found = 1 } END { exit !found }' "$known")
listed=$?
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
  echo "$name did not end within its time in the machine"
fi
if [ $listed -eq 0 ]; then
  if [ "$status" = 0 ]; then
    echo "FLIPPED: $name is marked as a known failure ($reason) but passes now:"
    echo "remove its line from $known"
    exit 1
  fi
  echo "KNOWN FAILURE, counted as passing until it is mended: $reason"
  exit 0
fi
exit "$([ "$status" = 0 ] && echo 0 || echo 1)"
