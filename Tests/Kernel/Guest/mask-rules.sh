#!/bin/bash
# Masks udev rules files before udevd starts in the kernel tier's machine (stage 2), and prints one
# line saying which it masked.
#
#   mask-rules.sh LIST
#
# LIST: one file a line, a tab, and the package owning it ("-" for none), as foreign-udev-rules.sh
# writes it; a missing LIST masks nothing. Each folder holding a listed file becomes a tmpfs with
# the folder's other files, so that a masked file no longer covers one of the same name in a folder
# read after it either (an empty file, or one bound over by /dev/null, would).
set -uo pipefail
declare -A folders
masked=()
list=${1:?usage: mask-rules.sh LIST}
[ -f "$list" ] || list=/dev/null
while IFS=$'\t' read -r path package; do
  [ -n "$path" ] && { [ -e "$path" ] || [ -L "$path" ]; } || continue
  [ "$package" = - ] && masked+=("$path (no package)") || masked+=("$path (package $package)")
  folders[$(dirname "$path")]+=$'\n'"$(basename "$path")"
done < "$list"
failed=
for folder in "${!folders[@]}"; do
  kept=$(mktemp -d)
  for file in "$folder"/* "$folder"/.[!.]*; do
    [ -e "$file" ] || [ -L "$file" ] || continue
    grep -qxF "$(basename "$file")" <<< "${folders[$folder]}" || cp -a "$file" "$kept/"
  done
  { mount -t tmpfs -o mode=755 tmpfs "$folder" && cp -a "$kept/." "$folder/"; } || failed+=" $folder"
  rm -rf "$kept"
done
line="udev rules masked in this machine (neither the system's nor the project's): "
if ((${#masked[@]})); then
  line+=$(printf '%s; ' "${masked[@]}")
  line=${line%; }
else
  line+=none
fi
[ -n "$failed" ] && line+=" (MASKING FAILED in$failed)"
echo "$line"
[ -z "$failed" ]
