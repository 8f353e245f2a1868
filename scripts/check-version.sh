#!/bin/sh
# Fails when the npm packages' version is not the program's: the project version in
# CMakeLists.txt is the one source (the programs' --version and the Windows version resource are
# built from it); the client's manifest and its lock file name it too, and the platform packages
# are packed with the client's.
set -eu
cd "$(dirname "$0")/.."
project=$(sed -n 's/^project(Quillmere VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
status=0
for file in clients/node/package.json clients/node/package-lock.json; do
    # The manifest's own version, and the lock file's for the package itself (its first two).
    for found in $(grep -m2 '^ *"version":' "$file" | sed 's/.*"version": "\([^"]*\)".*/\1/'); do
        if [ "$found" != "$project" ]; then
            echo "version: $file says $found, the project $project"
            status=1
        fi
    done
done
[ $status -eq 0 ] && echo "version: the packages and the program are $project"
exit $status
