#!/bin/sh
# Fails when a source file includes against the layer order of src/:
#   common/ includes only common/;
#   capture/, ducking/ and listing/ include common/ and their own folder, never each other;
#   app/ may include all of them.
set -eu
cd "$(dirname "$0")/../src"
allowed() { # folder -> the folders its files may include
    case $1 in
        common) echo "common" ;;
        capture | ducking | listing) echo "common $1" ;;
        app) echo "common capture ducking listing app" ;;
        *) echo "" ;;
    esac
}
status=0
for file in $(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | sort); do
    folder=${file%%/*}
    if [ "$folder" = "$file" ]; then
        echo "layers: $file is outside every layer"
        status=1
        continue
    fi
    for included in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"/]*\)\/.*".*/\1/p' "$file" | sort -u); do
        case " $(allowed "$folder") " in
            *" $included "*) ;;
            *) echo "layers: $file includes $included/, against the order"; status=1 ;;
        esac
    done
done
[ $status -eq 0 ] && echo "layers: every include follows the order"
exit $status
