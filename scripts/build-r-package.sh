#!/usr/bin/env bash
# Builds the R package's source tarball, propbf_VERSION.tar.gz, in the folder this is run
# from. The package compiles the layers of `propbf evaluate` below the command line (see
# docs/architecture.md) and the headers it includes from src/model: they are copied
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
# The engine: the sources of each layer the package links, exactly as the layer's
# CMakeLists.txt lists them (one per line), and the headers of those folders and of
# src/model.
engine="$package/src/engine"
mkdir -p "$engine"
cp -R "$root/src/model" "$engine/model"
for layer in messages problem sampling engine report; do
  mkdir -p "$engine/$layer"
  cp "$root/src/$layer"/*.hpp "$engine/$layer/"
  for extra in "$root/src/$layer"/*.ipp; do [ -e "$extra" ] && cp "$extra" "$engine/$layer/"; done
  sources="$(sed -n 's/^ *\([A-Za-z0-9_]*\.cpp\)[ )]*$/\1/p' "$root/src/$layer/CMakeLists.txt")"
  [ -n "$sources" ] || { echo "build-r-package.sh: no sources listed in src/$layer/CMakeLists.txt" >&2; exit 1; }
  for source in $sources; do cp "$root/src/$layer/$source" "$engine/$layer/"; done
done
objects="$(cd "$package/src" && find engine -name '*.cpp' | LC_ALL=C sort | sed 's/\.cpp$/.o/' | tr '\n' ' ')"
sed -i "s|@ENGINE_OBJECTS@|$objects|" "$package/src/Makevars.in"
cd "$work"
R CMD build --no-manual propbf >&2
mv "propbf_$version.tar.gz" "$out/"
echo "$out/propbf_$version.tar.gz"
