#!/usr/bin/env bash
# Builds the R package's source tarball, propbf_VERSION.tar.gz, in the folder this is run
# from, and prints its path. `R CMD build r` makes it from a copy of r/ whose cleanup
# script copies the engine's sources (r/tools/copy-engine.sh: the sources each layer's
# CMakeLists.txt lists, and the headers) into src/engine, so the tarball carries them.
# Fails when DESCRIPTION's version is not the project's.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(pwd)"
version="$(sed -n 's/^project(propbf VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || { echo "build-r-package.sh: no project version in CMakeLists.txt" >&2; exit 1; }
package_version="$(sed -n 's/^Version: *//p' "$root/r/DESCRIPTION")"
if [ "$package_version" != "$version" ]; then
  echo "build-r-package.sh: r/DESCRIPTION's Version ($package_version) is not the project's ($version)" >&2
  exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
R CMD build --no-manual "$root/r" >&2
tar -tzf "propbf_$version.tar.gz" | grep '^propbf/src/engine/engine/evaluation.cpp$' >/dev/null ||
  { echo "build-r-package.sh: the tarball lacks the engine's sources" >&2; exit 1; }
mv "propbf_$version.tar.gz" "$out/"
echo "$out/propbf_$version.tar.gz"
