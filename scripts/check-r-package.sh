#!/usr/bin/env bash
# Builds the R package's tarball, installs it into a temporary library and runs
# `R CMD check --no-manual` on it; fails when the check reports an ERROR or a WARNING.
# With PROPBF_CLI naming the propbf program, the tests compare the package's numbers with
# those of `propbf evaluate --json`.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
NEED_R=1 bash "$root/scripts/ensure-tools.sh"
if [ -n "${PROPBF_CLI:-}" ]; then
  PROPBF_CLI="$(realpath "$PROPBF_CLI")"
  export PROPBF_CLI
fi
export MAKEFLAGS="${MAKEFLAGS:--j$(nproc)}"  # the engine's sources compile side by side
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
tarball="$(bash "$root/scripts/build-r-package.sh")"
mkdir library
R CMD INSTALL --library=library "$tarball"
status=0
R_LIBS="$work/library${R_LIBS:+:$R_LIBS}" R CMD check --no-manual "$tarball" || status=$?
log="$work/propbf.Rcheck/00check.log"
if [ "$status" -ne 0 ] || grep -Eq '\.\.\. (ERROR|WARNING)|^Status: .*(ERROR|WARNING)' "$log"; then
  echo "check-r-package.sh: R CMD check failed:" >&2
  cat "$log" >&2
  for output in "$work"/propbf.Rcheck/tests/*.Rout.fail; do
    [ -f "$output" ] && tail -n 40 "$output" >&2
  done
  exit 1
fi
grep '^Status' "$log"
