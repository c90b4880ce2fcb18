#!/usr/bin/env bash
# The udev rules of this machine that the kernel tier's machines mask: every rules file that is
# neither the system's own nor the project's. The machines boot over this machine's root, so other
# programs' rules would be theirs too and decide their verdicts (a rule that runs a slow program at
# every input device's add delays every announcement; one that tags nodes for the seat's user
# changes what the device rules' check sees).
#
#   foreign-udev-rules.sh SOURCE [FOLDER...]
#
# Prints one line per foreign file: its path, a tab, and the package that owns it ("-" for none).
# FOLDER defaults to the folders udevd reads rules from. The system's own: the files owned by the
# packages of the system's base (priority required or important, or essential: udev and systemd
# among them), by the packages SOURCE/scripts/setup installs, and by everything these depend on
# (libinput's and libwacom's rules so). The project's: a file named as one in SOURCE/Data/udev with
# the same text (an older copy is foreign: it is not this build's).
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 SOURCE [FOLDER...]" >&2
  exit 2
fi
source_dir=$1
shift
folders=("$@")
((${#folders[@]})) || folders=(/etc/udev/rules.d /run/udev/rules.d /usr/local/lib/udev/rules.d
                                /lib/udev/rules.d /usr/lib/udev/rules.d)
if ! command -v dpkg-query > /dev/null; then
  echo "foreign-udev-rules: dpkg-query is missing, so no rules file can be told from the system's" >&2
  exit 1
fi

# The packages scripts/setup installs: its `packages=(…)` list.
setup_packages=$(sed -n '/^packages=(/,/)/p' "$source_dir/scripts/setup" | tr -d '()' | sed 's/^packages=//')
[ -n "$setup_packages" ] || { echo "foreign-udev-rules: no package list in $source_dir/scripts/setup" >&2; exit 1; }

# The system's packages: the roots and, through Pre-Depends and Depends (every alternative that is
# installed, a virtual package through what provides it), all they need.
system_packages=$(
  dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Priority}\t${Essential}\t${Provides}\t${Pre-Depends}, ${Depends}\n' |
  awk -F'\t' -v roots="udev systemd $setup_packages" '
    function names(field, list) {
      gsub(/\([^)]*\)/, "", field); gsub(/:[a-z0-9]+/, "", field); gsub(/[|,]/, " ", field)
      return split(field, list, " ")
    }
    substr($1, 2, 1) != "i" { next }
    {
      installed[$2] = 1; needs[$2] = $6
      n = names($5, provided)
      for (i = 1; i <= n; i++) providers[provided[i]] = providers[provided[i]] " " $2
      if ($3 == "required" || $3 == "important" || $4 == "yes") queue[++tail] = $2
    }
    END {
      n = split(roots, root, " ")
      for (i = 1; i <= n; i++) queue[++tail] = root[i]
      for (head = 1; head <= tail; head++) {
        p = queue[head]
        if (p in seen) continue
        seen[p] = 1
        if (p in installed) print p
        m = names(needs[p] " " providers[p], wanted)
        for (i = 1; i <= m; i++) if (!(wanted[i] in seen)) queue[++tail] = wanted[i]
      }
    }')

# The files to judge (udevd reads *.rules only; a folder reached twice is read once).
declare -A seen_folders
candidates=()
for folder in "${folders[@]}"; do
  [ -d "$folder" ] || continue
  real=$(realpath "$folder")
  [ -n "${seen_folders[$real]:-}" ] && continue
  seen_folders[$real]=1
  for file in "$real"/*.rules; do
    [ -e "$file" ] || [ -L "$file" ] || continue
    name=$(basename "$file")
    [ -f "$source_dir/Data/udev/$name" ] && cmp -s "$file" "$source_dir/Data/udev/$name" && continue
    candidates+=("$file")
  done
done
((${#candidates[@]})) || exit 0

# Their owners, asked at once (each question reads every package's file list): each path under /usr
# and without it too, as a merged /usr lists a file under either.
queries=()
for file in "${candidates[@]}"; do
  queries+=("$file")
  case "$file" in
    /usr/lib/*) queries+=("${file#/usr}") ;;
    /lib/*) queries+=("/usr$file") ;;
  esac
done
declare -A owners
while IFS= read -r line; do
  case "$line" in diversion\ *) continue ;; esac
  path=${line#*: }
  package=${line%%: *}
  package=${package%%,*}
  owners[$path]=${package%%:*}
done < <(dpkg-query -S "${queries[@]}" 2> /dev/null)

for file in "${candidates[@]}"; do
  package=${owners[$file]:-}
  case "$file" in
    /usr/lib/*) package=${package:-${owners[${file#/usr}]:-}} ;;
    /lib/*) package=${package:-${owners[/usr$file]:-}} ;;
  esac
  [ -n "$package" ] && grep -qxF "$package" <<< "$system_packages" && continue
  printf '%s\t%s\n' "$file" "${package:--}"
done
exit 0
