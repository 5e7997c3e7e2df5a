#!/usr/bin/env bash
# Builds the R package's source tarball, propbf_VERSION.tar.gz, in the folder this is run
# from. The package compiles the engine of `propbf evaluate`: its sources (src/evaluate
# without the command line, and the headers it includes from src/model) are copied
# beside the R sources into a temporary folder, with the version of CMakeLists.txt, and
# `R CMD build` makes the tarball from there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(pwd)"
version="$(sed -n 's/^project(propbf VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || { echo "build-r-package.sh: no project version in CMakeLists.txt" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
package="$work/propbf"
cp -R "$root/r" "$package"
sed -i "s/^Version: .*/Version: $version/" "$package/DESCRIPTION"
# The engine: every file of src/evaluate except the command line (CLI11), plus src/model.
engine="$package/src/engine"
mkdir -p "$engine"
cp -R "$root/src/evaluate" "$engine/evaluate"
cp -R "$root/src/model" "$engine/model"
rm -f "$engine/evaluate/command.cpp" "$engine/evaluate/command.hpp"
objects="$(cd "$package/src" && find engine -name '*.cpp' | LC_ALL=C sort | sed 's/\.cpp$/.o/' | tr '\n' ' ')"
sed -i "s|@ENGINE_OBJECTS@|$objects|" "$package/src/Makevars.in"
cd "$work"
R CMD build --no-manual propbf >&2
mv "propbf_$version.tar.gz" "$out/"
echo "$out/propbf_$version.tar.gz"
