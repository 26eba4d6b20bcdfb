#!/bin/bash
# Packs the sample application of build directory $1 into one executable
# and runs it in the foreground.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
out="$build/examples/greeter"

echo "== Packing $build/examples/greeter.jar into $out"
"$build/bin/tvx-pack" \
  --set 'property greeter.name=tvx user' \
  --set 'option -Xmx64m' \
  --set 'stderr /dev/stderr' \
  -o "$out" "$build/examples/greeter.jar"

echo
echo "== What the executable carries"
"$build/bin/tvx-pack" --inspect "$out"

echo
echo "== Running it: $out -test one two"
"$out" -test one two

echo
echo "== Its service help: $out -help"
"$out" -help
