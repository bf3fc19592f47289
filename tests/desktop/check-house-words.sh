#!/usr/bin/env bash
# The project speaks of the disk and the program in its own words: the words its
# house rules keep out of every tracked file (the pattern below, kept encoded so
# that this check does not hold them itself). Prints each offending line and
# fails when there is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"
pattern=$(echo 'XGJbT29dcmlnaW5hbFxifFtTc11wZWNpZmljYXRpb258W1NzXXBlY2lmaWVkfFxiW0EtWl1bQS1aYS16XSpTcGVjXGI=' | base64 -d)
if git ls-files >/dev/null 2>&1; then
    files=$(git ls-files | grep -v '^fuzz/corpus/' | grep -v '^fuzz/findings/')
else
    files=$(find . -type f -not -path './build*' -not -path './.git/*' -not -path './fuzz/corpus/*' \
        -not -path './fuzz/findings/*')
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
