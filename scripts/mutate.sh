#!/usr/bin/env bash
# Mutation check: plants small faults one at a time and runs the test suite
# against each; a fault that no test notices shows where the tests are thin.
#
#   scripts/mutate.sh [--list] [--every] [--timeout SECONDS] [NAME...]
#
# The faults are listed in scripts/mutants.txt. NAME selects mutants by name
# or by a shell pattern ('rkqc-*'); no name runs all of them. --list shows
# each mutant and whether its snippet still occurs exactly once. --every runs
# the whole suite against each mutant and names every test that catches it
# (slower): a test that is never the only one to catch a fault adds nothing.
#
# Works on a copy of the tree in build-mutate/tree, built incrementally in
# build-mutate/build, so the working tree is never touched; a mutant costs
# the recompilation of one file, relinking and the suite. Each test gets a
# timeout (default 30 s), so a fault that makes a test loop counts as caught.
# Outcome per mutant: caught, survived, not applicable (its snippet is no
# longer found exactly once: the code has changed) or build-broken. The
# summary is also written to build-mutate/results.txt.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build-mutate
tree=$work/tree
build=$work/build
mutants_file=$root/scripts/mutants.txt

list_only=false
every=false
test_timeout=30
patterns=()
while (($#)); do
  case $1 in
    --list) list_only=true ;;
    --every) every=true ;;
    --timeout) test_timeout=$2; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) patterns+=("$1") ;;
  esac
  shift
done

# Splits the mutant list into build-mutate/mutants/NNN-NAME/{file,original,replacement}.
# Block format (see the head of mutants.txt):
#   [name] path/to/file
#   <<<
#   original lines
#   ===
#   replacement lines (none: the original is deleted)
#   >>>
mkdir -p "$work"
rm -rf "$work/mutants"
python3 - "$mutants_file" "$work/mutants" <<'PY' || exit 2
import os, re, sys
src, out = sys.argv[1], sys.argv[2]
os.makedirs(out)
lines = open(src).read().split('\n')
k, count, names = 0, 0, set()
def fail(msg):
    sys.exit(f"{src}:{k + 1}: {msg}")
while k < len(lines):
    line = lines[k]
    if not line.strip() or line.startswith('#'):
        k += 1
        continue
    m = re.fullmatch(r'\[([A-Za-z0-9_.-]+)\]\s+(\S+)\s*', line)
    if not m: fail("expected '[name] file'")
    name, path = m.groups()
    if name in names: fail(f"mutant {name} listed twice")
    names.add(name)
    k += 1
    if k >= len(lines) or lines[k] != '<<<': fail("expected '<<<'")
    k += 1
    original = []
    while k < len(lines) and lines[k] != '===':
        original.append(lines[k]); k += 1
    if k >= len(lines): fail("expected '==='")
    k += 1
    replacement = []
    while k < len(lines) and lines[k] != '>>>':
        replacement.append(lines[k]); k += 1
    if k >= len(lines): fail("expected '>>>'")
    k += 1
    if not original: fail(f"mutant {name} has an empty original")
    count += 1
    d = os.path.join(out, f"{count:03d}-{name}")
    os.makedirs(d)
    open(os.path.join(d, 'file'), 'w').write(path)
    # Lines are joined without a last line end, so that a snippet may be
    # part of a line; deleting whole lines leaves them empty.
    open(os.path.join(d, 'original'), 'w').write('\n'.join(original))
    open(os.path.join(d, 'replacement'), 'w').write('\n'.join(replacement))
PY

# Prints how often the original of mutant directory $1 occurs in file $2.
occurrences() {
  python3 -c 'import sys; print(open(sys.argv[2]).read().count(open(sys.argv[1]).read()))' \
    "$1/original" "$2" 2>/dev/null || echo 0
}

# Replaces the one occurrence of the original of mutant $1 in file $2.
apply_mutant() {
  python3 -c '
import sys
d, f = sys.argv[1], sys.argv[2]
text = open(f).read()
text = text.replace(open(d + "/original").read(), open(d + "/replacement").read(), 1)
open(f, "w").write(text)' "$1" "$2"
}

selected() {
  local name=$1 p
  ((${#patterns[@]} == 0)) && return 0
  for p in "${patterns[@]}"; do
    # shellcheck disable=SC2053
    [[ $name == $p ]] && return 0
  done
  return 1
}

mutant_dirs=()
for d in "$work"/mutants/*/; do
  d=${d%/}
  name=${d##*/}
  name=${name#*-}
  selected "$name" && mutant_dirs+=("$d")
done
((${#mutant_dirs[@]})) || { echo "no mutant selected" >&2; exit 2; }

if $list_only; then
  for d in "${mutant_dirs[@]}"; do
    name=${d##*/}; name=${name#*-}
    file=$(cat "$d/file")
    n=$(occurrences "$d" "$root/$file")
    state=applicable
    ((n == 1)) || state="not applicable (snippet found $n times)"
    printf '%-28s %-36s %s\n' "$name" "$file" "$state"
  done
  exit 0
fi

# Brings the copy of the tree up to date, copying only files whose content
# differs, so that the build stays incremental and nothing stale survives
# an interrupted run.
sync_tree() {
  mkdir -p "$tree"
  local f
  (cd "$root" && find CMakeLists.txt src tools tests bench examples man r -type f 2>/dev/null) |
    while IFS= read -r f; do
      if ! cmp -s "$root/$f" "$tree/$f"; then
        mkdir -p "$(dirname "$tree/$f")"
        cp "$root/$f" "$tree/$f"
      fi
    done
  (cd "$tree" && find . -type f) | while IFS= read -r f; do
    [[ -e $root/$f ]] || rm -f "$tree/$f"
  done
}

current_file=
restore() {
  if [[ -n $current_file ]]; then
    cp "$root/$current_file" "$tree/$current_file"
    current_file=
  fi
}
trap 'restore; echo; echo "interrupted" >&2; exit 130' INT TERM
trap restore EXIT

build_tree() { nice -n 10 cmake --build "$build" -j2 >"$work/build.log" 2>&1; }
run_suite() {
  # The README test builds whole trees of its own (the benchmark comparison)
  # and its examples run in the other tests as well.
  local stop=--stop-on-failure
  $every && stop=
  nice -n 10 ctest --test-dir "$build" -j2 --timeout "$test_timeout" $stop -E '^Readme' \
    >"$work/ctest.log" 2>&1
}

sync_tree
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/configure.log" 2>&1 ||
    { echo "configuring failed; see $work/configure.log" >&2; exit 2; }
fi
echo "building the unmutated tree in $build"
build_tree || { echo "the unmutated tree does not build; see $work/build.log" >&2; exit 2; }
run_suite || { echo "the unmutated tree fails its tests; see $work/ctest.log" >&2; exit 2; }

caught=() survived=() not_applicable=() broken=()
total=${#mutant_dirs[@]} k=0
for d in "${mutant_dirs[@]}"; do
  k=$((k + 1))
  name=${d##*/}; name=${name#*-}
  file=$(cat "$d/file")
  printf '[%d/%d] %-28s ' "$k" "$total" "$name"
  if [[ ! -f $tree/$file ]] || (($(occurrences "$d" "$tree/$file") != 1)); then
    echo "not applicable"
    not_applicable+=("$name")
    continue
  fi
  current_file=$file
  apply_mutant "$d" "$tree/$file"
  if ! build_tree; then
    echo "build-broken"
    broken+=("$name")
  elif run_suite; then
    echo "SURVIVED  ($file)"
    survived+=("$name ($file)")
  else
    failed=$(grep -oE '[0-9]+ - [^ ]+' "$work/ctest.log" | sed 's/^[0-9]* - //' | sort -u)
    $every || failed=$(head -n1 <<<"$failed")
    failed=$(tr '\n' ' ' <<<"$failed")
    failed=${failed% }
    echo "caught    (${failed:-suite failed})"
    caught+=("$name")
  fi
  restore
done

{
  echo "mutants: $total  caught: ${#caught[@]}  survived: ${#survived[@]}  not applicable: ${#not_applicable[@]}  build-broken: ${#broken[@]}"
  applicable=$((${#caught[@]} + ${#survived[@]}))
  ((applicable)) && echo "score: $((100 * ${#caught[@]} / applicable))% of the applicable mutants that build are caught"
  ((${#survived[@]})) && printf 'survived: %s\n' "${survived[@]}"
  ((${#not_applicable[@]})) && printf 'not applicable: %s\n' "${not_applicable[@]}"
  ((${#broken[@]})) && printf 'build-broken: %s\n' "${broken[@]}"
} | tee "$work/results.txt"
# Status 0 when every applicable mutant that builds was caught, 1 otherwise.
((${#survived[@]} == 0))
