#!/usr/bin/env bash
# Runs the examples of the README's tools section as written, one after the other in one
# fresh folder, with the build's programs first on the PATH.
#   usage: readme_examples.sh README BIN-FOLDER
set -uo pipefail
readme=$1
bin=$2
export PATH="$bin:$PATH"
# Nothing here may touch the machine's own registry or runtime folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export BREVANTIC_REGISTRY_DIR="$work/registry" QUORVANE_RUNTIME_DIR="$work/run" QUORVANE_IPC_PREFIX="readme$$_"
export TOLVA_NO_REALTIME=1
mkdir -p "$BREVANTIC_REGISTRY_DIR" "$QUORVANE_RUNTIME_DIR"
examples=$(sed -n '/^<!-- examples -->$/,/^<!-- \/examples -->$/s/^    \$ //p' "$readme")
[ -n "$examples" ] || { echo "no examples in $readme"; exit 1; }
failed=0
count=0
while IFS= read -r example; do
  count=$((count + 1))
  folder="$work/examples"
  mkdir -p "$folder"
  echo "\$ $example"
  if ! (cd "$folder" && timeout 300 bash -c "$example") >"$work/example$count.log" 2>&1; then
    tail -n 30 "$work/example$count.log"
    echo "FAILED: $example"
    failed=$((failed + 1))
  fi
done <<<"$examples"
echo "$count examples, $failed failed"
[ "$failed" -eq 0 ]
