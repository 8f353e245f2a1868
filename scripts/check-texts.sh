#!/bin/sh
# Fails when a host line text is spelled in more than one place:
#   - a quoted "[win-helper] ..." text in two files of src/ (each text lives in
#     src/common/protocol_text.h, a constant or the builder of its line, and code names that);
#   - a "[win-helper] ..." text that the Node client matches (a quoted string, or the
#     text a regular-expression literal starts with, in clients/node/src/) that no text of
#     src/common/protocol_text.h starts with.
set -eu
cd "$(dirname "$0")/.."
status=0
texts=$(mktemp)
client=$(mktemp)
trap 'rm -f "$texts" "$client"' EXIT
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
# What the client matches: its quoted tagged texts, and the plain text that each tagged
# regular-expression literal starts with (one text for each alternative of a plain group such as
# "(?:Excluding|Including)"), up to its first class, wildcard, optional part or capture of a value.
{
    grep -rhoE "['\"]\[win-helper\] [^'\"]+['\"]" clients/node/src | sed "s/^['\"]//; s/['\"]$//"
    grep -rhoE '/\^?\\\[win-helper\\\] ([^/\\]|\\.)*/' clients/node/src | sed 's#^/^\{0,1\}##; s#/$##' | awk '
        {
            count = 1
            texts[1] = ""
            i = 1
            while (i <= length($0)) {
                c = substr($0, i, 1)
                if (c == "\\") {
                    piece = substr($0, i + 1, 1)
                    if (index("dDwWsSbBcfnrtvxupPk0123456789", piece)) break
                    next_at = i + 2
                } else if (c == "(") {
                    start = substr($0, i + 1, 2) == "?:" ? i + 3 : i + 1
                    end = index(substr($0, start), ")")
                    if (end == 0) break
                    piece = substr($0, start, end - 1)
                    if (match(piece, /[][(){}.*+?^$\\]/)) break
                    next_at = start + end
                } else if (index("[](){}.*+?^$|", c)) {
                    break
                } else {
                    piece = c
                    next_at = i + 1
                }
                if (index("*+?{", substr($0, next_at, 1))) break
                alternatives = split(piece, choice, "|")
                grown = 0
                for (t = 1; t <= count; t++)
                    for (a = 1; a <= alternatives; a++)
                        next_texts[++grown] = texts[t] choice[a]
                count = grown
                for (t = 1; t <= count; t++) texts[t] = next_texts[t]
                i = next_at
            }
            for (t = 1; t <= count; t++) print texts[t]
        }'
} | sort -u >"$client"
while IFS= read -r prefix; do
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
done <"$client"
[ $status -eq 0 ] && echo "texts: every host line text is spelled once"
exit $status
