#!/usr/bin/env bash
# The project speaks of the disk and the program in its own words: no source,
# document, script or test refers to a document the program was built from, to
# a program it imitates, or names a type after a "spec". Prints each offending
# line and fails when there is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"
pattern='\b[Oo]riginal\b|[Ss]pecification|[Ss]pecified|\b[A-Z][A-Za-z]*Spec\b'
if git ls-files >/dev/null 2>&1; then
    files=$(git ls-files | grep -v '^tests/desktop/check-house-words.sh$' | grep -v '^fuzz/corpus/' | grep -v '^fuzz/findings/')
else
    files=$(find . -type f -not -path './build*' -not -path './.git/*' -not -path './fuzz/corpus/*' \
        -not -path './fuzz/findings/*' -not -name check-house-words.sh)
fi
found=0
while IFS= read -r file; do
    [ -f "$file" ] || continue
    case "$file" in *.png | *.ico | *.bmp | *.svg) continue ;; esac
    if grep -I -n -E "$pattern" "$file" 2>/dev/null | sed "s|^|$file:|"; then
        found=1
    fi
done <<<"$files"
exit "$found"
