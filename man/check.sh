#!/bin/sh
# Checks the manual pages in DIR: each one renders without a single warning,
# and every long option that a program's --help lists is on its page.
# Usage: check.sh DIR [PAGE=PROGRAM]...
dir=$1
shift
status=0
for page in "$dir"/*.[1-9]; do
  warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
  if [ -n "$warnings" ]; then
    printf '%s:\n%s\n' "$page" "$warnings"
    status=1
  fi
done
for pair in "$@"; do
  page=$dir/${pair%%=*}
  program=${pair#*=}
  options=$("$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
  [ -n "$options" ] || { echo "$program --help lists no option"; status=1; }
  for option in $options; do
    # The page writes a minus sign as \-.
    if ! grep -qF -- "$(printf '%s' "$option" | sed 's/-/\\-/g')" "$page"; then
      echo "$page: $option of $program --help is not on the page"
      status=1
    fi
  done
done
exit $status
