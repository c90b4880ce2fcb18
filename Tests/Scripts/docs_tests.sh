#!/usr/bin/env bash
# The map stays true: `docs_tests.sh ROOT CASE`.
#   docs-paths-exist         every source path the docs name is there (README.md, docs/ and the
#                            notes beside the code)
#   layers-include-downward  no source file includes a header of a layer above its own (a tool
#                            under Tools/ stands with Runtime: it may not reach the program's own
#                            layers)
#   walks-name-real-functions every `Type::name` a walk of docs/ARCHITECTURE.md names is there
#   descriptors-closed-by-their-owner  no source closes a descriptor but UniqueFd
set -euo pipefail
root="$1"
case_name="$2"
cd "$root"

# Where a path the docs give short is looked for: the repository, the two source roots, the seams'
# folders and the test kit.
bases=(. Sources/TindlewaveKit Sources/Tindlewave Sources/TindlewaveKit/Platform
       Sources/TindlewaveKit/Platform/Linux Sources/TindlewaveKit/Platform/Simulated
       Sources/TindlewaveKit/Runtime Tests Tests/TestKit Tests/Kernel)

named_paths() {  # the repository paths a document names in backticks: files by extension, folders by a final /
  grep -oE '`[A-Za-z0-9_./-]+/[A-Za-z0-9_.-]*`' "$1" | tr -d '`' \
    | grep -E '\.(h|cpp|sh|md|json|txt|cmake|rules|supp|options)$|^(Sources|Tests|Benchmarks|Tools|Data|scripts|cmake|docs|Model|Core|Platform|Runtime|Settings|App|Shell|Linux|Simulated)/.*/$' \
    | grep -vE '^(/|~|\.\./|build/|share/|bin/|libexec/|lib/)' | sort -u
}

exists_somewhere() {
  local base
  for base in "${bases[@]}"; do [ -e "$base/$1" ] && return 0; done
  return 1
}

case "$case_name" in
  docs-paths-exist)
    missing=0
    for doc in README.md docs/*.md $(find Sources Tests Tools -name '*.md' | sort); do
      while read -r path; do
        exists_somewhere "$path" || { echo "$doc names $path, which is not there"; missing=$((missing + 1)); }
      done < <(named_paths "$doc")
    done
    ((missing == 0))
    ;;
  layers-include-downward)
    # A layer may include its own headers and those of the layers below it, never one above.
    grep -rn '^#include "' Sources Tools | awk -F: '
      function rank(path) {
        if (path ~ /^Tools\//) return 4
        sub(/^Sources\/TindlewaveKit\//, "", path); sub(/^Sources\/Tindlewave\//, "", path)
        if (path ~ /^Model\//) return 1
        if (path ~ /^Core\//) return 2
        if (path ~ /^Platform\//) return 3
        if (path ~ /^Runtime\//) return 4
        if (path ~ /^Settings\/Model\//) return 5
        if (path ~ /^App\//) return 6
        if (path ~ /^(Settings\/Views|Shell)\//) return 7
        return 0
      }
      {
        header = $0; sub(/^[^"]*"/, "", header); sub(/".*$/, "", header)
        own = rank($1); theirs = rank(header)
        if (own > 0 && theirs > own) { print $1 " includes " header ", a layer above its own"; wrong++ }
      }
      END { exit wrong > 0 }'
    ;;
  walks-name-real-functions)
    # A walk names its steps as `Type::name` (a function, or a case or type inside Type): each is
    # defined as Type::name somewhere, or named in a file that defines Type.
    wrong=0
    while read -r named; do
      type="${named%%::*}"; name="${named#*::}"; name="${name%%(*}"
      grep -rqE "\b${type}::${name}\b" Sources Tools && continue
      # A function is declared with its parameters; a case or type inside Type by its name.
      pattern="\b${name}\b"
      [[ "$name" =~ ^[a-z] ]] && pattern="\b${name}[[:space:]]*\("
      found=0
      while read -r file; do
        grep -qE "$pattern" "$file" && found=1
      done < <(grep -rlE "^[[:space:]]*(class|struct)[[:space:]]+([A-Za-z0-9_]+::)*${type}\b[^;]*$" Sources Tools)
      ((found)) || { echo "docs/ARCHITECTURE.md: a walk names ${named}, which is not there"; wrong=$((wrong + 1)); }
    done < <(awk '/^## /{walks = ($0 == "## Walks")} walks' docs/ARCHITECTURE.md \
               | grep -oE '`[A-Za-z_][A-Za-z0-9_]*::[A-Za-z_][A-Za-z0-9_]*(\([^`]*\))?`' | tr -d '`' | sort -u)
    ((wrong == 0))
    ;;
  descriptors-closed-by-their-owner)
    # Every descriptor the program owns is held in a UniqueFd, the one place that closes one.
    found=$(grep -rnE '(^|[^A-Za-z0-9_])::close[[:space:]]*\(' Sources Tools \
              | grep -v '^Sources/TindlewaveKit/Platform/Linux/System/UniqueFd\.cpp:' || true)
    [[ -z "$found" ]] || { echo "descriptors closed by hand, not through UniqueFd:"; echo "$found"; exit 1; }
    ;;
  *) echo "unknown case $case_name" >&2; exit 2 ;;
esac
