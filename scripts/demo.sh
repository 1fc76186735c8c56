#!/bin/bash
# The demo: builds the native module and host, places an example settings
# file beside a copy of the module, and pipes an SQL file through the C
# preprocessor with plugin-host, as a host application would on each
# invocation of the plug-in.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --native
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target external_preprocessor plugin-host >/dev/null

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
cp build/native/external_preprocessor.so build/native/plugin-host "$demo/"
cp examples/external_preprocessor.ini "$demo/"
# The run's temporary files go to a directory of the demo's own, so that the
# count at the end is of this run's files alone.
export TMPDIR=$demo/tmp
mkdir "$TMPDIR"

user=scott
database=sales_db
echo "== input: examples/report.sql"
cat examples/report.sql
echo
echo "== settings beside the module: $demo/external_preprocessor.ini"
grep -v '^;' "$demo/external_preprocessor.ini"
echo
echo "== command line used (with %u=$user, %d=$database, %f the temporary input file)"
grep '^CommandLine=' "$demo/external_preprocessor.ini" | cut -d= -f2- |
    sed "s|%u|$user|; s|%d|$database|; s|%f|$TMPDIR/seXXXX.TMP|"
echo
echo "== output: the host's new text (the program runs in the current directory, $PWD)"
"$demo/plugin-host" run -u "$user" -d "$database" examples/report.sql
echo
echo "== temporary files left behind in $TMPDIR: $(find "$TMPDIR" -type f | wc -l)"
