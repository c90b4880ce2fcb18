#!/usr/bin/env bash
# Plants faults of its own in the lines a change touched and lists those no test catches:
#   Tests/Guards/mutate.sh [--max N] [--tests REGEX] [--list] [REVISIONS] [-- PATH...]
#   (Tests/Guards/plant.sh --mutate ... runs it too)
#
# REVISIONS is A..B (the lines B changed since A, planted in B's tree) or A (the working tree's
# changes since A, planted in the working tree as it is, uncommitted and new files included); without
# it, the working tree's changes since it left main (the branch's commits and what is not committed).
# PATHs, from the tree's root, narrow the change. It looks at the C++ files of Sources/ and Tools/
# and at the shell scripts of scripts/.
#
# On each changed line, in this order and at most two: the condition of an if or a while inverted;
# a comparison moved (`<` for `<=`, `!=` for `==`, and back; -lt, -eq, = and -z in a script's tests);
# `||` for `&&` and back; an early return at the first statement of each change (`return;` in a
# function returning nothing, `return false;` in one returning a truth value, `return 0`/`exit 0`
# in a script); the statement removed (a call, an assignment; a script's command becomes `:`); two
# arguments swapped. At most --max of them (default 50) are planted, taken evenly from every change;
# --list only lists them.
#
# Each fault is planted alone in a copy of the tree under build/mutants/ (never in the working tree;
# its debug build folder is kept for the next run and the compiler cache is shared with the other
# builds), built, and tested: by the tests whose programs are built from the planted file (found in
# ninja's dependencies; for a script, the tests whose scripts name it), the kernel tier's aside, or
# by the tests --tests REGEX names. The tests that caught the file's earlier faults run first, and
# a run stops at its first failure. Before any fault, the chosen tests run once as they are: one
# that fails then is left out (the run says so). Faults run side by side as the guards do, each
# share in a copy of its own seen at one path in a mount namespace of its own (as root):
# TW_MUTANT_WORKERS of them, by default one for each two processors (two at least, six at most);
# TW_MUTANT_TEST_JOBS tests at a time in each (3).
#
# One line a fault: "killed" (with the test that failed), "SURVIVED" (every test passed, or no test
# runs the file) or "no build" (the tree does not build with it); then the survivors again, each
# with the entry of Tests/Guards/*.guards that plants it again: add it, with the test that catches
# it and what a user would suffer, once a test does. Each fault's output is in
# build/mutants/logs/N.log. The exit status is 0 whatever survives, 2 on an error of its own (bad
# arguments, a tree that does not configure or build without any fault).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work="$root/build/mutants"
shared="$work/tree"  # where each copy is seen in its own mount namespace
worker=${TW_MUTANT_WORKER:-}
test_jobs=${TW_MUTANT_TEST_JOBS:-3}
per_line=2
old_time=@946684800  # the time given to the copy's files unchanged since its build last built them

export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"

fail() { echo "mutate: $*" >&2; exit 2; }

# count_of and plant: the text replacement both runners share.
source "$(dirname "${BASH_SOURCE[0]}")/planting.sh"

# --- the faults a line can take --------------------------------------------------------------------

# Reads a file and prints, for its changed lines (LINES: a comma-separated list), one record a
# fault: line, first line of its change, kind, description and the line with the fault, separated
# by \037. LANG is cpp or sh.
# shellcheck disable=SC2016
faults_program='
function fault(i, kind, desc, new) {
  if (new == txt[i] || count[i] >= per_line) return
  count[i]++
  printf "%d\037%d\037%s\037%s\037%s\n", i, hunk[i], kind, desc, new
}
function indent_of(s) { match(s, /^[ \t]*/); return substr(s, 1, RLENGTH) }
function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
# Marks each character: c code, s in a string, x in a comment. The state crosses lines (a C++
# block comment, a shell string): 0 code, 1 "...", 2 C++ char, 3 C++ comment, 4 shell ...
function mask(s,   m, i, n, c, d) {
  m = ""; n = length(s)
  for (i = 1; i <= n; i++) {
    c = substr(s, i, 1); d = substr(s, i + 1, 1)
    if (state == 3) { m = m "x"; if (c == "*" && d == "/") { m = m "x"; i++; state = 0 } continue }
    if (state == 1 || state == 2) {
      if (c == "\\") { m = m "s"; if (i < n) { m = m "s"; i++ } continue }
      if ((state == 1 && c == "\"") || (state == 2 && c == "\047")) state = 0
      m = m "s"; continue
    }
    if (state == 4) { if (c == "\047") state = 0; m = m "s"; continue }
    if (lang == "cpp") {
      if (c == "/" && d == "/") { for (; i <= n; i++) m = m "x"; break }
      if (c == "/" && d == "*") { m = m "xx"; i++; state = 3; continue }
      if (c == "\"") { state = 1; m = m "s"; continue }
      if (c == "\047") { state = 2; m = m "s"; continue }
    } else {
      if (c == "#" && (i == 1 || substr(s, i - 1, 1) ~ /[ \t]/)) { for (; i <= n; i++) m = m "x"; break }
      if (c == "\\") { m = m "c"; if (i < n) { m = m "c"; i++ } continue }
      if (c == "\"") { state = 1; m = m "s"; continue }
      if (c == "\047") { state = 4; m = m "s"; continue }
    }
    m = m "c"
  }
  if (lang == "cpp" && (state == 1 || state == 2)) state = 0
  return m
}
function code_of(s, m,   x) { x = index(m, "x"); return trim(x ? substr(s, 1, x - 1) : s) }
function is_code(i, p, len) { return substr(msk[i], p, len) ~ /^c+$/ }
function matching(i, opening,   d, k, c) {  # the parenthesis closing the one at opening, 0 when on another line
  d = 0
  for (k = opening; k <= length(txt[i]); k++) {
    if (substr(msk[i], k, 1) != "c") continue
    c = substr(txt[i], k, 1)
    if (c == "(") d++
    else if (c == ")" && --d == 0) return k
  }
  return 0
}
function balanced(s,   t, opened, closed) {
  t = s; opened = gsub(/\(/, "", t); closed = gsub(/\)/, "", t)
  return opened == closed
}
function previous_code(i,   j) {  # the code of the nearest line before with any
  for (j = i - 1; j >= 1; j--) if (code[j] != "" && !(lang == "cpp" && code[j] ~ /^#/)) return code[j]
  return ""
}
# Each occurrence of OLD that is code becomes NEW, one fault each.
function swap_each(i, old, new, kind, where,   off, p, q) {
  off = 0
  while ((p = index(substr(txt[i], off + 1), old)) > 0) {
    q = off + p
    if (is_code(i, q, length(old)) && (where == "" || inside(i, q, where)) &&
        !(lang == "sh" && kind == "logic" && substr(txt[i], q + length(old)) ~ /^(true|:)[ \t]*(;.*|#.*)?$/))
      fault(i, kind, "`" trim(new) "` for `" trim(old) "`", substr(txt[i], 1, q - 1) new substr(txt[i], q + length(old)))
    off = q
  }
}
# In C++, && for || and back; where the line then mixes both, the new operator and its operands go in
# parentheses (the warning against mixing them is an error in this build).
function logic_each(i, old, new,   off, p, q, plain, from, to) {
  off = 0
  while ((p = index(substr(txt[i], off + 1), old)) > 0) {
    q = off + p
    off = q
    if (!is_code(i, q, length(old))) continue
    plain = substr(txt[i], 1, q - 1) new substr(txt[i], q + length(old))
    if (index(plain, "&&") && index(plain, "||")) {
      from = operand_start(i, q); to = operand_end(i, q + length(old))
      plain = substr(txt[i], 1, from - 1) "(" substr(txt[i], from, q - from) new \
              substr(txt[i], q + length(old), to - q - length(old) + 1) ")" substr(txt[i], to + 1)
    }
    fault(i, "logic", "`" trim(new) "` for `" trim(old) "`", plain)
  }
}
function operand_start(i, q,   k, d, c) {  # the first character of the operand that ends before q
  d = 0
  for (k = q - 1; k >= 1; k--) {
    c = substr(txt[i], k, 1)
    if (substr(msk[i], k, 1) != "c") continue
    if (c == ")") d++
    else if (c == "(" && d-- == 0) break
    else if (d == 0 && (c ~ /[,;?{]/ || (c == " " && substr(txt[i], k - 2, 2) ~ /^(&&|\|\|)$/) || substr(txt[i], k - 6, 7) == "return " ||
                        substr(txt[i], k - 1, 2) == "= " || (c == ":" && substr(txt[i], k - 1, 1) != ":" && substr(txt[i], k + 1, 1) != ":")))
      break
  }
  for (k++; substr(txt[i], k, 1) ~ /[ \t]/; k++) {}
  return k
}
function operand_end(i, q,   k, d, c, n) {  # the last character of the operand that starts at q
  d = 0; n = length(txt[i])
  for (k = q; k <= n; k++) {
    c = substr(txt[i], k, 1)
    if (substr(msk[i], k, 1) != "c") { if (substr(msk[i], k, 1) == "x") break; continue }
    if (c == "(") d++
    else if (c == ")" && d-- == 0) break
    else if (d == 0 && (c ~ /[,;?{]/ || (c == " " && substr(txt[i], k + 1, 2) ~ /^(&&|\|\|)$/) ||
                        (c == ":" && substr(txt[i], k + 1, 1) != ":" && substr(txt[i], k - 1, 1) != ":")))
      break
  }
  for (k--; k > q && substr(txt[i], k, 1) ~ /[ \t]/; k--) {}
  return k
}
function inside(i, q, where,   before, opening, closing, p, k) {  # a script test [ ... ] or arithmetic (( ... ))
  before = substr(txt[i], 1, q - 1)
  if (where == "test") { opening = "["; closing = "]" } else { opening = "(("; closing = "))" }
  p = 0
  while ((k = index(substr(before, p + 1), opening)) > 0) p += k
  if (p == 0) return 0
  return index(substr(before, p), closing) == 0
}
function cpp_statement_start(i,   prev) {
  prev = previous_code(i)
  if (indent_of(txt[i]) == "" || code[i] !~ /[;{]$/) return 0
  if (code[i] ~ /^(}|{|else|case |default|return|public:|private:|protected:|#|break;|continue;)/) return 0
  return prev ~ /[;{}]$/ || prev ~ /^(case .*|default):$/
}
function cpp_return(i,   j, t, sig, name) {  # the early return the enclosing function takes, "" if none
  for (j = i - 1; j >= 1; j--) {
    t = txt[j]
    if (t ~ /^}/ || t ~ /^(namespace|class|struct|enum|union|extern)[ {]/) return ""
    if (t ~ /^[A-Za-z_~[]/ && t !~ /^(template|using|typedef|static_assert|public|private|protected)/) break
  }
  if (j < 1) return ""
  sig = txt[j]
  sub(/^(\[\[[^]]*\]\] *)+/, "", sig)
  while (sub(/^(static|inline|constexpr|virtual|explicit|friend) /, "", sig)) {}
  if (sig ~ /^void /) return "return;"
  if (sig ~ /^bool /) return "return false;"
  name = index(sig, "(") ? substr(sig, 1, index(sig, "(") - 1) : " "
  if (name !~ / / && name ~ /::/) return "return;"  # a constructor or a destructor
  return ""
}
function sh_statement_start(i,   prev, first) {
  prev = previous_code(i)
  if (prev ~ /(\\|\||&&)$/ || start_state[i] != 0) return 0
  first = code[i]; sub(/[ \t;].*/, "", first)
  if (first ~ /^(then|else|elif|fi|do|done|esac|;;|}|\)|in|local|declare|readonly|typeset)$/) return 0
  if (first ~ /\)$/ && code[i] !~ /\(/) return 0  # a case pattern
  return code[i] !~ /^[A-Za-z_][A-Za-z0-9_:-]*\(\)/
}
function sh_return(i,   j) {
  for (j = i - 1; j >= 1; j--) {
    if (txt[j] ~ /^}/) return "exit 0; "
    if ((txt[j] ~ /^[A-Za-z_][A-Za-z0-9_:-]*\(\)/ || txt[j] ~ /^function /) && txt[j] !~ /}[ \t;]*(#.*)?$/) return "return 0; "
  }
  return "exit 0; "
}
function cpp_faults(i,   opening, closing, cond, new, ret, rest, p, off, call, a, b, name) {
  if (code[i] == "" || code[i] ~ /^#/) return
  if (match(txt[i], /(^|[^A-Za-z0-9_])(if|while) \(/) && is_code(i, RSTART, RLENGTH)) {
    opening = RSTART + RLENGTH - 1
    closing = matching(i, opening)
    if (closing) {
      cond = substr(txt[i], opening + 1, closing - opening - 1)
      if (cond != "" && cond !~ /;/ && cond !~ /^(const |auto[ &*]|[A-Za-z_][A-Za-z0-9_:<>]*[*&]* +[*&]*[A-Za-z_][A-Za-z0-9_]* = )/) {
        if (cond ~ /^![^ ]+$/) new = substr(txt[i], 1, opening) substr(cond, 2) substr(txt[i], closing)
        else if (cond ~ /^[A-Za-z_:][]A-Za-z0-9_:.>()[-]*$/ && balanced(cond)) new = substr(txt[i], 1, opening) "!" cond substr(txt[i], closing)
        else new = substr(txt[i], 1, opening) "!(" cond ")" substr(txt[i], closing)
        fault(i, "condition", "condition inverted", new)
      }
    }
  }
  swap_each(i, " <= ", " < ", "comparison"); swap_each(i, " >= ", " > ", "comparison")
  swap_each(i, " == ", " != ", "comparison"); swap_each(i, " != ", " == ", "comparison")
  swap_each(i, " < ", " <= ", "comparison"); swap_each(i, " > ", " >= ", "comparison")
  logic_each(i, " && ", " || "); logic_each(i, " || ", " && ")
  if (!early[hunk[i]] && cpp_statement_start(i)) {
    early[hunk[i]] = 1
    ret = cpp_return(i)
    if (ret != "") fault(i, "return", "early `" ret "`", indent_of(txt[i]) ret " " substr(txt[i], length(indent_of(txt[i])) + 1))
  }
  if (code[i] ~ /;$/ && balanced(code[i]) && previous_code(i) ~ /([;{}]|^(case .*|default):)$/ &&
      code[i] !~ /^(return|static_assert|throw|delete|goto|co_)/ &&
      (code[i] ~ /^(::)?[A-Za-z_][A-Za-z0-9_]*((::|\.|->)~?[A-Za-z_][A-Za-z0-9_]*)*(<[^;]*>)?\(.*\);$/ ||
       code[i] ~ /^\*?[A-Za-z_][A-Za-z0-9_]*((::|\.|->)[A-Za-z_][A-Za-z0-9_]*|\[[^]]*\])* ([-+*\/|&^]|<<|>>)?= .*;$/ ||
       code[i] ~ /^(\+\+|--)[A-Za-z_][]A-Za-z0-9_.>[-]*;$/ || code[i] ~ /^[A-Za-z_][]A-Za-z0-9_.>[-]*(\+\+|--);$/))
    fault(i, "removed", "statement removed", indent_of(txt[i]) "if (false) " substr(txt[i], length(indent_of(txt[i])) + 1))
  off = 0
  rest = txt[i]
  while (match(rest, /[A-Za-z_][A-Za-z0-9_]*\([A-Za-z0-9_.:*&>-]+, [A-Za-z0-9_.:*&>-]+\)/)) {
    p = off + RSTART
    call = substr(rest, RSTART, RLENGTH)
    name = substr(call, 1, index(call, "(") - 1)
    a = substr(call, index(call, "(") + 1); a = substr(a, 1, index(a, ",") - 1)
    b = substr(call, index(call, ",") + 2); b = substr(b, 1, length(b) - 1)
    if (is_code(i, p, RLENGTH) && a != b && name !~ /^(min|max|swap|hypot|gcd|lcm|equal|if|while|for|switch)$/) {
      fault(i, "swapped", "arguments swapped", substr(txt[i], 1, p - 1) name "(" b ", " a ")" substr(txt[i], p + RLENGTH))
      break
    }
    off += RSTART + RLENGTH - 1
    rest = substr(rest, RSTART + RLENGTH)
  }
}
function sh_faults(i,   first, t, ret) {
  if (code[i] == "" || heredoc_line[i] || in_array[i] || start_state[i] != 0) return
  if (match(txt[i], /^[ \t]*(if|elif|while|until) /)) {
    t = substr(txt[i], RLENGTH + 1)
    if (t ~ /^! /) fault(i, "condition", "condition inverted", substr(txt[i], 1, RLENGTH) substr(t, 3))
    else fault(i, "condition", "condition inverted", substr(txt[i], 1, RLENGTH) "! " t)
  }
  swap_each(i, " -eq ", " -ne ", "comparison", "test"); swap_each(i, " -ne ", " -eq ", "comparison", "test")
  swap_each(i, " -lt ", " -le ", "comparison", "test"); swap_each(i, " -le ", " -lt ", "comparison", "test")
  swap_each(i, " -gt ", " -ge ", "comparison", "test"); swap_each(i, " -ge ", " -gt ", "comparison", "test")
  swap_each(i, " = ", " != ", "comparison", "test"); swap_each(i, " == ", " != ", "comparison", "test")
  swap_each(i, " != ", " = ", "comparison", "test")
  swap_each(i, " -z ", " -n ", "comparison", "test"); swap_each(i, " -n ", " -z ", "comparison", "test")
  swap_each(i, " <= ", " < ", "comparison", "arithmetic"); swap_each(i, " >= ", " > ", "comparison", "arithmetic")
  swap_each(i, " < ", " <= ", "comparison", "arithmetic"); swap_each(i, " > ", " >= ", "comparison", "arithmetic")
  swap_each(i, " && ", " || ", "logic"); swap_each(i, " || ", " && ", "logic")
  if (!early[hunk[i]] && sh_statement_start(i)) {
    early[hunk[i]] = 1
    ret = sh_return(i)
    fault(i, "return", "early `" trim(ret) "`", indent_of(txt[i]) ret substr(txt[i], length(indent_of(txt[i])) + 1))
  }
  first = code[i]; sub(/[ \t;].*/, "", first)
  if (sh_statement_start(i) && end_state[i] == 0 && balanced(code[i]) && code[i] !~ /<</ &&
      first !~ /^(if|then|else|elif|fi|for|while|until|do|done|case|esac|function|select|time|{|}|\(|\)|!|local|declare|readonly|typeset|return|exit|break|continue)$/ &&
      code[i] !~ /(\\|\||&&|[{(]|;;|[ \t;](do|then|else|in))$/ && code[i] !~ /^(do|then|else|in)$/)
    fault(i, "removed", "statement removed", indent_of(txt[i]) ":")
}
BEGIN {
  n = split(lines, wanted, ",")
  for (k = 1; k <= n; k++) changed[wanted[k] + 0] = 1
}
{
  txt[NR] = $0
  start_state[NR] = state
  if (terminator != "") {
    heredoc_line[NR] = 1
    t = $0; if (strip_tabs) sub(/^\t+/, "", t)
    if (t == terminator) terminator = ""
    msk[NR] = ""; code[NR] = ""
    next
  }
  msk[NR] = mask($0)
  end_state[NR] = state
  if (lang == "sh") {  # the lines of an array written over several lines
    in_array[NR] = array_depth > 0
    t = code_of($0, msk[NR])
    if (array_depth > 0 || t ~ /[A-Za-z_][A-Za-z0-9_]*\+?=\(/) {
      u = t; array_depth += gsub(/\(/, "", u); u = t; array_depth -= gsub(/\)/, "", u)
      if (array_depth < 0) array_depth = 0
    }
  }
  code[NR] = code_of($0, msk[NR])
  if (lang == "sh" && match(code[NR], /<<-?[ \t]*[\047"]?[A-Za-z_][A-Za-z0-9_]*/) && substr(code[NR], RSTART - 1, 1) != "<") {
    t = substr(code[NR], RSTART, RLENGTH)
    strip_tabs = t ~ /^<<-/
    sub(/^<<-?[ \t]*[\047"]?/, "", t)
    terminator = t
  }
}
END {
  for (i = 1; i <= NR; i++) if (i in changed) hunk[i] = (i - 1 in changed) ? hunk[i - 1] : i
  for (i = 1; i <= NR; i++) {
    if (!(i in changed)) continue
    if (lang == "cpp") cpp_faults(i)
    else sh_faults(i)
  }
}'

language_of() {  # PATH (in the tree TREE): cpp, sh or nothing when the file is not looked at
  case "$1" in
    Sources/*.cpp | Sources/*.cc | Sources/*.h | Sources/*.hpp | Tools/*.cpp | Tools/*.cc | Tools/*.h | Tools/*.hpp)
      echo cpp ;;
    scripts/*)
      if [[ "$1" == *.sh ]] || head -n 1 "$2/$1" 2> /dev/null | grep -qE '^#!.*\b(ba|da)?sh\b'; then echo sh; fi ;;
  esac
}

# --- the worker: one fault after another in its copy ----------------------------------------------

if [ -n "$worker" ]; then
  echo $$ > "$work/worker-$worker.pid"
  trap 'exit 130' INT TERM
  view=$TW_MUTANT_VIEW
  build="$view/build/dev"

  run_tests() {  # NAMES-FILE LOG: 0 when every test passed; `failed`, the tests that failed
    local numbers unlisted listing="$work/listing-$worker"
    failed=""
    [ -s "$1" ] || return 0
    # The numbers ctest gives those tests now (a test program that does not start lists none).
    (cd "$build" && ctest -N 2> /dev/null) | sed -n 's/^ *Test *#\([0-9]*\): \(.*\)$/\2\t\1/p' > "$listing" || true
    numbers=$(awk -F'\t' 'FNR == NR { wanted[$0] = 1; next }
                          ($1 in wanted) { print $2; delete wanted[$1] }
                          END { for (name in wanted) print name > "/dev/stderr" }' "$1" "$listing" \
                2> "$work/unlisted-$worker" | paste -sd, -)
    unlisted=$(head -n 1 "$work/unlisted-$worker")
    if [ -n "$unlisted" ]; then failed="$unlisted (not listed: its program does not start)"; return 1; fi
    if (cd "$build" && ctest -I "0,0,0,$numbers" --stop-on-failure -j "$test_jobs" --output-on-failure) >> "$2" 2>&1; then
      return 0
    fi
    failed=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) ([A-Za-z ]*)$/\1/p' "$2" | sort -u | paste -sd, -)
    failed=${failed:-a test failed}
    return 1
  }

  for dir in "$work"/mutants/*/; do
    id=$(basename "$dir")
    mkdir "$work/claims/$id" 2> /dev/null || continue
    file=$(cat "$dir/file") line=$(cat "$dir/line") desc=$(cat "$dir/desc") group=$(cat "$dir/group")
    find=$(cat "$dir/find"; printf x) find=${find%x}
    replace=$(cat "$dir/replace"; printf x) replace=${replace%x}
    path="$view/$file"
    log="$work/logs/$id.log"
    started=$SECONDS
    original="$work/original-$worker"
    cp -p "$path" "$original"
    ((worker != 1)) || echo "$file" >> "$work/planted"
    plant "$path" "$find" "$replace"
    : > "$log"
    # shellcheck disable=SC2086
    if [ "$(cat "$dir/lang")" = sh ] && ! bash -n "$path" >> "$log" 2>&1; then
      verdict="no build"
    elif targets=$(cat "$work/groups/$group/targets") && [ -n "$targets" ] &&
         ! cmake --build "$build" --parallel "${TW_MUTANT_BUILD_JOBS:-4}" --target $targets >> "$log" 2>&1; then
      verdict="no build"
    elif [ ! -s "$work/groups/$group/tests" ]; then
      verdict="SURVIVED" why="no test runs $file"
    else
      # The tests that caught this file's faults so far, and those named after it, go first.
      stem=$(basename "${file%.*}")
      { awk -F'\t' -v f="$file" '$1 == f { print $2 }' "$work/killers" 2> /dev/null | tr ',' '\n'
        grep -iF -- "$stem" "$work/groups/$group/tests" || true; } | sort -u \
        | grep -Fxf "$work/groups/$group/tests" > "$work/first-$worker" || true
      grep -Fxvf "$work/first-$worker" "$work/groups/$group/tests" > "$work/rest-$worker" || true
      if ! run_tests "$work/first-$worker" "$log" || ! run_tests "$work/rest-$worker" "$log"; then
        verdict="killed" why=$failed
        printf '%s\t%s\n' "$file" "$failed" >> "$work/killers"
      else
        verdict="SURVIVED" why=""
      fi
    fi
    # The original back with a new time, so the next build compiles it again (from the cache).
    cat "$original" > "$path"
    [ "$verdict" != "no build" ] || why=""
    seconds=$((SECONDS - started))
    printf '%s\n%s\n' "$verdict" "$why" > "$work/results/$id"
    printf '%-9s %s:%s  %s%s [%ss]\n' "$verdict" "$file" "$line" "$desc" "${why:+ ($why)}" "$seconds"
  done
  exit 0
fi

# --- the change and its faults --------------------------------------------------------------------

max=50 tests_regex="" list_only="" revisions="" paths=()
while (($#)); do
  case "$1" in
    --max) [ $# -ge 2 ] || fail "--max needs a number"; max=$2; shift 2 ;;
    --max=*) max=${1#--max=}; shift ;;
    --tests) [ $# -ge 2 ] || fail "--tests needs a regular expression"; tests_regex=$2; shift 2 ;;
    --tests=*) tests_regex=${1#--tests=}; shift ;;
    --list) list_only=1; shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    --) shift; paths=("$@"); break ;;
    -*) fail "unknown option '$1' (see --help)" ;;
    *) [ -z "$revisions" ] || fail "one range of revisions only ('$revisions', then '$1')"; revisions=$1; shift ;;
  esac
done
[[ "$max" =~ ^[1-9][0-9]*$ ]] || fail "--max takes a number above 0, not '$max'"

commit_of() { git -C "$root" rev-parse -q --verify "$1^{commit}" 2> /dev/null || fail "'$1' is not a revision of $root"; }
tip=""
if [ -z "$revisions" ]; then
  if git -C "$root" rev-parse -q --verify 'main^{commit}' > /dev/null; then
    base=$(git -C "$root" merge-base main HEAD)
  else
    base=$(commit_of HEAD)
  fi
  what="the working tree's changes since $(git -C "$root" rev-parse --short "$base")"
elif [[ "$revisions" == *...* ]]; then
  fail "give two revisions as A..B"
elif [[ "$revisions" == *..* ]]; then
  from=${revisions%%..*} to=${revisions#*..}
  base=$(commit_of "${from:-HEAD}") tip=$(commit_of "${to:-HEAD}")
  what="the changes of $revisions"
else
  base=$(commit_of "$revisions")
  what="the working tree's changes since $revisions"
fi

started_all=$SECONDS
mkdir -p "$work"
# The lock is not handed to what the run starts (a test may leave a process behind).
exec 9> "$work/lock"
flock -n 9 || fail "another run uses $work"

isolated=""
if [ -z "$list_only" ] && [ "$(id -u)" = 0 ] && unshare --mount --propagation private true 2> /dev/null; then
  isolated=1
fi
view="$work/tree-1"
[ -z "$isolated" ] || view="$shared"
build="$view/build/dev"
in_copy() {  # N COMMAND...: runs the command with copy N at the path it was built at
  local n=$1
  shift
  if [ -n "$isolated" ]; then
    unshare --mount --propagation private bash -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' \
      bind "$work/tree-$n" "$shared" "$@" 9>&-
  else
    "$@" 9>&-
  fi
}

workers=1
pids=()
remove_copies() {  # the first copy's sources go, its build folder stays for the next run
  local n
  [ ! -d "$work/tree-1" ] || find "$work/tree-1" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
  for ((n = 2; n <= 64; n++)); do [ ! -d "$work/tree-$n" ] || rm -rf "$work/tree-$n"; done
}
stop_workers() {
  local n
  for ((n = 1; n <= workers; n++)); do
    [ -f "$work/worker-$n.pid" ] && kill -TERM "$(cat "$work/worker-$n.pid")" 2> /dev/null
  done
  wait
  exit 130
}
trap remove_copies EXIT
trap 'exit 130' INT TERM

rm -rf "$work/mutants" "$work/candidates" "$work/groups" "$work/claims" "$work/results" "$work/logs" \
  "$work"/worker-* "$work"/first-* "$work"/rest-* "$work"/listing-* "$work"/unlisted-* "$work"/original-* \
  "$work/killers" "$work/changed"
mkdir -p "$shared" "$work/mutants" "$work/candidates" "$work/groups" "$work/claims" "$work/results" "$work/logs"
remove_copies
mkdir -p "$work/tree-1"

# The tree the faults go into: the tip's, or the working tree as it is, each file with an old time
# unless it changed since the copy's build last built it (or a fault was planted in it since).
if [ -n "$tip" ]; then
  git -C "$root" archive --format=tar "$tip" | tar -C "$work/tree-1" -xf -
else
  (cd "$root" && git ls-files -z --cached --others --exclude-standard \
     | while IFS= read -r -d '' path; do [ -e "$path" ] && printf '%s\0' "$path"; done \
     | tar --null -T - -cf -) | tar -C "$work/tree-1" -xf -
fi
touch "$work/sources" "$work/planted"
(cd "$work/tree-1" && find . -path ./build -prune -o -type f -print | sed 's|^\./||' | sort \
   | tr '\n' '\0' | xargs -0 -r sha1sum) > "$work/sources.new"
awk -v same="$work/same" -v changed="$work/changed-sources" '
  FILENAME == ARGV[1] { built[$0] = 1; next }
  FILENAME == ARGV[2] { planted[$0] = 1; next }
  { path = substr($0, 43); if (($0 in built) && !(path in planted)) print path > same; else print path > changed }
' "$work/sources" "$work/planted" "$work/sources.new"
touch "$work/same" "$work/changed-sources"
(cd "$work/tree-1" && tr '\n' '\0' < "$work/same" | xargs -0 -r touch -d "$old_time" -- \
   && tr '\n' '\0' < "$work/changed-sources" | xargs -0 -r touch --)

# The changed lines: FILE<TAB>LINE.
diff_revisions=("$base")
[ -z "$tip" ] || diff_revisions+=("$tip")
git -C "$root" diff -U0 --no-color --no-ext-diff -M --diff-filter=AMR "${diff_revisions[@]}" -- "${paths[@]}" \
  | awk '/^\+\+\+ / { file = substr($0, 7); next }
         /^@@ / { split($3, to, ","); first = substr(to[1], 2) + 0; count = (2 in to) ? to[2] + 0 : 1
                  for (k = 0; k < count; k++) print file "\t" first + k }' > "$work/changed"
if [ -z "$tip" ]; then
  git -C "$root" ls-files -z --others --exclude-standard -- "${paths[@]}" \
    | while IFS= read -r -d '' path; do
        [ -f "$root/$path" ] || continue
        awk -v file="$path" '{ print file "\t" NR }' "$root/$path"
      done >> "$work/changed"
fi

# Every fault the changed lines can take, each a folder of candidates/: file, line, kind, its
# description, its find and replace texts (the line, or a few lines around it when the line is not
# unique in its file) and the language; `order` ranks them evenly across the changes.
declare -A group_of=()
candidate=0 skipped_not_unique=0 groups=0
: > "$work/order"
while IFS= read -r file; do
  [ -f "$work/tree-1/$file" ] || continue
  lang=$(language_of "$file" "$work/tree-1")
  [ -n "$lang" ] || continue
  lines=$(awk -F'\t' -v f="$file" '$1 == f { print $2 }' "$work/changed" | paste -sd, -)
  mapfile -t text < "$work/tree-1/$file"
  awk -v lang="$lang" -v lines="$lines" -v per_line="$per_line" "$faults_program" "$work/tree-1/$file" \
    > "$work/faults" || fail "the faults of $file could not be listed"
  declare -A rank=()
  while IFS=$'\037' read -r line hunk kind desc new; do
    old=${text[line - 1]}
    indent=${old%%[![:space:]]*}
    find=${old#"$indent"} replace=${new#"$indent"}
    # A line found elsewhere in its file is planted with the lines before it (and after), as a
    # guards entry finds it.
    if [ "$(count_of "$find" "$work/tree-1/$file")" != 1 ]; then
      unique=""
      for ((before = 1; before <= 3 && !unique; before++)); do
        for ((after = 0; after <= 2 && !unique; after++)); do
          ((line - before >= 1 && line + after <= ${#text[@]})) || continue
          find="" replace=""
          for ((k = line - before; k <= line + after; k++)); do
            find+="${find:+$'\n'}${text[k - 1]}"
            if ((k == line)); then replace+=$'\n'"$new"; else replace+="${replace:+$'\n'}${text[k - 1]}"; fi
          done
          replace=${replace#$'\n'}
          [ "$(count_of "$find" "$work/tree-1/$file")" != 1 ] || unique=1
        done
      done
      [ -n "$unique" ] || { skipped_not_unique=$((skipped_not_unique + 1)); continue; }
    fi
    candidate=$((candidate + 1))
    dir="$work/candidates/$candidate"
    mkdir "$dir"
    printf '%s' "$file" > "$dir/file"; printf '%s' "$line" > "$dir/line"; printf '%s' "$kind" > "$dir/kind"
    printf '%s' "$desc" > "$dir/desc"; printf '%s' "$find" > "$dir/find"; printf '%s' "$replace" > "$dir/replace"
    printf '%s' "$lang" > "$dir/lang"; printf '%s' "${new#"$indent"}" > "$dir/mutated"
    if [ -z "${group_of[$file]:-}" ]; then groups=$((groups + 1)); group_of[$file]=$groups; fi
    printf '%s' "${group_of[$file]}" > "$dir/group"
    rank[$hunk]=$((${rank[$hunk]:-0} + 1))
    printf '%s\t%s\t%s\t%s\n' "${rank[$hunk]}" "${group_of[$file]}" "$line" "$candidate" >> "$work/order"
  done < "$work/faults"
  unset rank
done < <(cut -f1 "$work/changed" | awk '!seen[$0]++')

# The first of each change, then the second, ..., up to --max; planted by file and line.
mapfile -t picked < <(sort -t$'\t' -k1,1n -k2,2n -k3,3n "$work/order" | head -n "$max" | sort -t$'\t' -k2,2n -k3,3n | cut -f4)
total=${#picked[@]}
id=0
for c in "${picked[@]}"; do
  id=$((id + 1))
  mv "$work/candidates/$c" "$work/mutants/$(printf '%04d' "$id")"
done
left_out=$((candidate - total))
summary="mutate: $what: $total faults in $groups files"
((left_out == 0)) || summary+=" ($left_out more left out by --max $max)"
((skipped_not_unique == 0)) || summary+="; $skipped_not_unique not planted: their lines occur elsewhere in their files too"
echo "$summary"

if [ -n "$list_only" ] || ((total == 0)); then
  for dir in "$work"/mutants/*/; do
    [ -d "$dir" ] || continue
    printf '%s:%s  %s: %s\n' "$(cat "$dir/file")" "$(cat "$dir/line")" "$(cat "$dir/desc")" "$(cat "$dir/mutated")"
  done
  exit 0
fi

# --- the copy's build and the tests of each file --------------------------------------------------

cache="$work/tree-1/build/dev/CMakeCache.txt"
if [ -f "$cache" ] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$view" "$cache"; then
  rm -rf "$work/tree-1/build/dev"
fi
echo "mutate: building a copy of the tree"
if [ ! -f "$cache" ]; then
  in_copy 1 bash -c 'cd "$1" && cmake --preset dev -DTW_BUILD_BENCHMARKS=OFF' configure "$view" \
    > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "the copy does not configure"; }
fi
in_copy 1 cmake --build "$build" --parallel "${TW_MUTANT_BUILD_JOBS:-4}" > "$work/build.log" 2>&1 \
  || { tail -n 40 "$work/build.log"; fail "the copy does not build without any fault"; }
mv "$work/sources.new" "$work/sources"
: > "$work/planted"

# The tests (the kernel tier's aside) and what each runs: NAME<TAB>build outputs<TAB>scripts.
in_copy 1 bash -c 'cd "$1" && ctest -N -V -LE kernel ${2:+-R "$2"}' list "$build" "$tests_regex" \
  > "$work/tests-verbose" 2> /dev/null || true
awk -v build="$build/" -v view="$view/" '
  /^[0-9]+: Test command: / { line = $0; sub(/^[0-9]+: Test command: /, "", line); command[$1 + 0] = line; next }
  /^ *Test +#[0-9]+: / { number = $0; sub(/^ *Test +#/, "", number); name = number; sub(/^[0-9]+: /, "", name)
    number += 0; outputs = ""; scripts = ""
    n = split(command[number], words, " ")
    for (k = 1; k <= n; k++) {
      w = words[k]; gsub(/"/, "", w)
      if (index(w, build) == 1) outputs = outputs " " substr(w, length(build) + 1)
      else if (index(w, view) == 1 && w ~ /\.sh$/) scripts = scripts " " substr(w, length(view) + 1)
    }
    print name "\t" outputs "\t" scripts }
' "$work/tests-verbose" > "$work/tests"
[ -s "$work/tests" ] || fail "no test found (ctest -N -V in $build${tests_regex:+ with -R $tests_regex})"

# Each output a test runs, and every file it is built from (ninja's own view, objects included).
in_copy 1 bash -c 'cd "$1" && ninja -t deps' deps "$build" > "$work/deps" 2> /dev/null || true
mkdir -p "$work/inputs"
rm -f "$work"/inputs/*
cut -f2 "$work/tests" | tr ' ' '\n' | sed '/^$/d' | sort -u > "$work/outputs"
n=0
while IFS= read -r output; do
  n=$((n + 1))
  printf '%s\n' "$output" > "$work/inputs/$n.name"
  in_copy 1 bash -c 'cd "$1" && ninja -t inputs "$2"' inputs "$build" "$output" 2> /dev/null \
    | sed "s|^$build/||" > "$work/inputs/$n" || true
done < "$work/outputs"

# Per file planted: the tests that run it and the targets to build before them.
for file in "${!group_of[@]}"; do
  g="$work/groups/${group_of[$file]}"
  mkdir -p "$g"
  if [ "$(language_of "$file" "$work/tree-1")" = cpp ]; then
    # The objects compiled from the file, then the outputs built from one of those.
    awk -v file="$file" -v view="$view/" '
      /^[^ ]/ { object = $1; sub(/:$/, "", object); next }
      { dep = $1; sub(/^(\.\.\/)+/, "", dep); if (index(dep, view) == 1) dep = substr(dep, length(view) + 1)
        if (dep == file) print object }' "$work/deps" | sort -u > "$g/objects"
    : > "$g/outputs"
    if [ -s "$g/objects" ]; then
      for names in "$work"/inputs/*.name; do
        if grep -qFxf "$g/objects" "${names%.name}"; then cat "$names" >> "$g/outputs"; fi
      done
    fi
    awk -F'\t' 'FNR == NR { built[$0] = 1; next }
                { n = split($2, outputs, " "); for (k = 1; k <= n; k++) if (outputs[k] in built) { print $1; break } }' \
      "$g/outputs" "$work/tests" > "$g/tests"
  else
    # A script: the tests that run it, or run a script that names it.
    : > "$g/tests"
    while IFS= read -r row; do
      name=${row%%$'\t'*} scripts=${row##*$'\t'}
      for script in $scripts; do
        if [ "$script" = "$file" ] || grep -qF "$file" "$work/tree-1/$script" 2> /dev/null; then
          echo "$name" >> "$g/tests"
          break
        fi
      done
    done < "$work/tests"
    : > "$g/objects"
  fi
  [ -z "$tests_regex" ] || cut -f1 "$work/tests" > "$g/tests"
  # What the tests run is built (the programs), and the file's objects, so a fault no test runs is
  # still compiled.
  awk -F'\t' 'FNR == NR { wanted[$0] = 1; next } ($1 in wanted) { print $2 }' "$g/tests" "$work/tests" \
    | tr ' ' '\n' | sed '/^$/d' | sort -u | paste -sd' ' - > "$g/programs"
  { cat "$g/objects"; tr ' ' '\n' < "$g/programs"; } | sed '/^$/d' | sort -u | paste -sd' ' - > "$g/targets"
done

# The chosen tests once without any fault: those that fail are left out.
sed -n 's/^ *Test *#\([0-9]*\): \(.*\)$/\2\t\1/p' "$work/tests-verbose" > "$work/numbers"
cat "$work"/groups/*/tests | sort -u > "$work/all-tests"
: > "$work/baseline-failed"
if [ -s "$work/all-tests" ]; then
  numbers=$(awk -F'\t' 'FNR == NR { wanted[$0] = 1; next } ($1 in wanted) { print $2 }' \
              "$work/all-tests" "$work/numbers" | paste -sd, -)
  echo "mutate: $(wc -l < "$work/all-tests") tests run once without any fault"
  if ! in_copy 1 bash -c 'cd "$1" && ctest -I "0,0,0,$2" -j "$3"' baseline "$build" "$numbers" "$test_jobs" \
       > "$work/baseline.log" 2>&1; then
    sed -n 's/^[[:space:]]*[0-9]* - \(.*\) ([A-Za-z ]*)$/\1/p' "$work/baseline.log" | sort -u > "$work/baseline-failed"
    [ -s "$work/baseline-failed" ] || { tail -n 20 "$work/baseline.log"; fail "the tests do not run without any fault"; }
    echo "mutate: these fail without any fault and are left out: $(paste -sd, - < "$work/baseline-failed")"
    for g in "$work"/groups/*/; do
      grep -Fxvf "$work/baseline-failed" "$g/tests" > "$g/tests.kept" || true
      mv "$g/tests.kept" "$g/tests"
    done
  fi
fi

# --- the faults, side by side ----------------------------------------------------------------------

if [ -n "$isolated" ]; then
  workers=$(( ($(nproc) + 1) / 2 ))
  ((workers >= 2)) || workers=2
  ((workers <= 6)) || workers=6
  workers=${TW_MUTANT_WORKERS:-$workers}
fi
((workers >= 1)) || workers=1
((workers <= total)) || workers=$total
for ((n = 2; n <= workers; n++)); do cp -a "$work/tree-1" "$work/tree-$n"; done
echo "mutate: $workers side by side"
trap stop_workers INT TERM
for ((n = 1; n <= workers; n++)); do
  in_copy "$n" env TW_MUTANT_WORKER="$n" TW_MUTANT_VIEW="$view" bash "$0" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
trap 'exit 130' INT TERM
((status == 0)) || fail "a worker failed"

# --- the survivors ---------------------------------------------------------------------------------

killed=0 survived=0 unbuilt=0 survivors=()
for dir in "$work"/mutants/*/; do
  id=$(basename "$dir")
  [ -f "$work/results/$id" ] || fail "fault $id was not planted"
  case "$(head -n 1 "$work/results/$id")" in
    killed) killed=$((killed + 1)) ;;
    SURVIVED) survived=$((survived + 1)); survivors+=("$id") ;;
    *) unbuilt=$((unbuilt + 1)) ;;
  esac
done

entry_lines() {  # KEY TEXT: a guards entry's key with its text, on one line or as "|" lines
  if [[ "$2" == *$'\n'* ]]; then
    printf '    %s\n' "$1"
    while IFS= read -r text; do printf '    |%s\n' "${text:+ $text}"; done <<< "$2"
  else
    printf '    %-8s %s\n' "$1" "$2" | sed 's/ *$//'
  fi
}
if ((${#survivors[@]})); then
  echo
  echo "Survivors, each with the guards entry that plants it again (name the test that catches it and"
  echo "what a user would suffer):"
  for id in "${survivors[@]}"; do
    dir="$work/mutants/$id"
    file=$(cat "$dir/file") line=$(cat "$dir/line")
    find=$(cat "$dir/find"; printf x) find=${find%x}
    replace=$(cat "$dir/replace"; printf x) replace=${replace%x}
    programs=$(cat "$work/groups/$(cat "$dir/group")/programs")
    why=$(sed -n 2p "$work/results/$id")
    stem=$(basename "${file%.*}" | tr '[:upper:]' '[:lower:]' | tr -c 'a-z0-9\n' '-')
    echo
    echo "$file:$line  $(cat "$dir/desc")${why:+ ($why)}"
    echo "  guard mutant-$stem-$line-$(cat "$dir/kind")"
    entry_lines file "$file"
    entry_lines find "$find"
    entry_lines replace "$replace"
    entry_lines build "${programs:-all}"
    entry_lines test "THE-TEST-THAT-CATCHES-IT"
    entry_lines suffers "WHAT-A-USER-WOULD-SUFFER"
  done
fi
took=$((SECONDS - started_all))
echo
echo "mutate: $total faults: $killed killed, $survived survived, $unbuilt do not build [$((took / 60))m$(printf '%02d' $((took % 60)))s]"
