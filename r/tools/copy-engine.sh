#!/bin/sh
# Copies the engine into the package: for each layer the package links, the sources its
# CMakeLists.txt lists (one per line) and the folder's headers, and the headers of
# src/model (the readers of input and the planner of plan included, for bf_plan()). Usage: copy-engine.sh SOURCES PACKAGE, where SOURCES is the project's src
# folder; the copy goes to PACKAGE/src/engine, replacing any earlier one.
set -eu
sources="$1"
target="$2/src/engine"
rm -rf "$target"
mkdir -p "$target"
cp -R "$sources/model" "$target/model"
for layer in messages problem sampling engine report polytope input plan; do
  [ -f "$sources/$layer/CMakeLists.txt" ] || { echo "copy-engine.sh: $sources/$layer/CMakeLists.txt is missing" >&2; exit 1; }
  mkdir -p "$target/$layer"
  cp "$sources/$layer"/*.hpp "$target/$layer/"
  for extra in "$sources/$layer"/*.ipp; do
    if [ -e "$extra" ]; then cp "$extra" "$target/$layer/"; fi
  done
  listed="$(sed -n 's/^ *\([A-Za-z0-9_]*\.cpp\)[ )]*$/\1/p' "$sources/$layer/CMakeLists.txt")"
  [ -n "$listed" ] || { echo "copy-engine.sh: no sources listed in $sources/$layer/CMakeLists.txt" >&2; exit 1; }
  for source in $listed; do cp "$sources/$layer/$source" "$target/$layer/"; done
done
