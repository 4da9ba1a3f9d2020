#!/usr/bin/env bash
# The README is kept true: every `sh` block in it runs, from the top of a
# scratch copy of the source tree whose build/ is the build under test, and
# must end with status 0; so does every `r` block, with Rscript, the build's
# programs installed into the copy and named by ECODYN_BIN. The set-up section is the two commands a new user
# runs; the demonstration is run here, the tests are what runs this.
#   readme_test.sh SOURCE_DIR BUILD_DIR SANITIZED(ON/OFF)
set -uo pipefail
source=$1 build=$2 sanitized=$3
top=$(mktemp -d) && trap 'rm -rf "$top"' EXIT
# A copy of the files git tracks (what a new user checks out), not of what
# earlier walkthroughs left in the source tree; outside a checkout, the tree
# as it is but for its builds.
if git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$source" ls-files -z | while IFS= read -r -d '' f; do
    [[ -e $source/$f ]] && mkdir -p "$top/$(dirname "$f")" && cp -p "$source/$f" "$top/$f"
  done
else
  for entry in "$source"/*; do [[ ${entry##*/} == build* ]] || cp -rp "$entry" "$top/"; done
fi
ln -s "$build" "$top/build" && mkdir "$top/.blocks"
# Block k to .blocks/k, its line, language and section to .blocks/k.where; a
# fence may be indented.
awk -v out="$top/.blocks" '
  inside && /^ *```$/ { inside = 0; close(file); next }
  inside { print substr($0, indent + 1) > file; next }
  /^ *```(sh|r)$/ { inside = 1; indent = index($0, "`") - 1; file = out "/" (++n); printf "" > file
                    language = substr($0, indent + 4)
                    print NR, language, section > (file ".where"); close(file ".where") }
  /^## / { section = substr($0, 4) }' "$source/README.md"
n=$(find "$top/.blocks" -name '*.where' | wc -l) status=0 set_up=
((n >= 10)) || { echo "README.md has only $n sh blocks"; status=1; }
for k in $(seq "$n"); do
  read -r line language section <"$top/.blocks/$k.where"
  text=$(cat "$top/.blocks/$k")
  if [[ $language == r ]]; then
    [[ -d $top/.stage ]] || cmake --install "$build" --prefix "$top/.stage" >/dev/null
    if ! (cd "$top" && ECODYN_BIN=$top/.stage/bin Rscript "$top/.blocks/$k" >/dev/null 2>"$top/.err"); then
      printf 'README.md line %s (%s), R, fails:\n%s\n--- standard error:\n' "$line" "$section" "$text"
      cat "$top/.err"
      status=1
    fi
    continue
  fi
  [[ $section == Set-up* ]] && set_up+="$text;"
  [[ $text == "bash scripts/test.sh" ]] && continue  # this is what runs the tests
  # The benchmarks time the optimized build; the ordinary run of this test has run them.
  [[ $sanitized == ON && $section == Benchmarks ]] && continue
  # The benchmark comparison times the build under test, once, rather than
  # building the tree again: here it must run, not measure well.
  if ! (cd "$top" && CURRENT=$build RUNS=1 bash -euo pipefail "$top/.blocks/$k" >/dev/null 2>"$top/.err"); then
    printf 'README.md line %s (%s) fails:\n%s\n--- standard error:\n' "$line" "$section" "$text"
    cat "$top/.err"
    status=1
  fi
done
[[ $set_up == "bash scripts/demo.sh;bash scripts/test.sh;" ]] ||
  { echo "the set-up is not the two commands: $set_up"; status=1; }
exit $status
