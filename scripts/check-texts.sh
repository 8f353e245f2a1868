#!/bin/sh
# Fails when a host line text is spelled in more than one place:
#   - a quoted "[win-helper] ..." text in two files of src/ (each text lives in
#     src/common/protocol_text.h, and code names its constant);
#   - a "[win-helper] ..." text that the Node client matches (a quoted string in
#     clients/node/src/) that no text of src/common/protocol_text.h starts with.
set -eu
cd "$(dirname "$0")/.."
status=0
texts=$(mktemp)
trap 'rm -f "$texts"' EXIT
# Every quoted tagged text in src/, with the file it stands in, once per file.
for file in $(find src -name '*.h' -o -name '*.cpp' | sort); do
    grep -o '"\[win-helper\][^"]*"' "$file" | sort -u | sed "s#^#$file #"
done >"$texts"
duplicates=$(cut -d' ' -f2- "$texts" | sort | uniq -d)
if [ -n "$duplicates" ]; then
    echo "$duplicates" | while IFS= read -r text; do
        echo "texts: $text is spelled in $(grep -F " $text" "$texts" | cut -d' ' -f1 | tr '\n' ' ')"
    done
    status=1
fi
module=$(grep -o '"\[win-helper\][^"]*"' src/common/protocol_text.h | sed 's/^"//; s/"$//')
for text in $(grep -rhoE "['\"]\[win-helper\] [^'\"]+['\"]" clients/node/src | sed "s/^['\"]//; s/['\"]$//" |
    sort -u | tr ' ' '\001'); do
    prefix=$(printf '%s' "$text" | tr '\001' ' ')
    found=no
    while IFS= read -r known; do
        case "$known" in "$prefix"*) found=yes; break ;; esac
    done <<MODULE
$module
MODULE
    if [ $found = no ]; then
        echo "texts: the Node client matches \"$prefix\", which src/common/protocol_text.h does not hold"
        status=1
    fi
done
[ $status -eq 0 ] && echo "texts: every host line text is spelled once"
exit $status
