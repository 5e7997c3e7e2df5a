#!/usr/bin/env bash
# Builds the R package's tarball, installs it into a temporary library and runs
# `R CMD check --as-cran` on it (--no-manual without pdflatex; the incoming checks that
# need the network are left out; NOT_CRAN=true so that the figures are compared with
# their vdiffr snapshots); fails when the check reports an ERROR or a WARNING and lists
# its NOTEs.
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
status=0
manual=--no-manual
command -v pdflatex >/dev/null 2>&1 && manual=
NOT_CRAN=true _R_CHECK_CRAN_INCOMING_REMOTE_=false \
  R CMD check --as-cran $manual "$tarball" || status=$?
log="$work/propbf.Rcheck/00check.log"
if [ "$status" -ne 0 ] || grep -Eq '\.\.\. (ERROR|WARNING)|^Status: .*(ERROR|WARNING)' "$log"; then
  echo "check-r-package.sh: R CMD check failed:" >&2
  cat "$log" >&2
  for output in "$work"/propbf.Rcheck/tests/*.Rout.fail; do
    [ -f "$output" ] && tail -n 40 "$output" >&2
  done
  exit 1
fi
grep -h '^\[ FAIL' "$work"/propbf.Rcheck/tests/testthat.Rout | tail -n 1 || true
grep -A6 '\.\.\. NOTE' "$log" || true
grep '^Status' "$log"
