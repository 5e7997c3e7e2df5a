#!/usr/bin/env bash
# Installs the build tools when they are missing (Debian packages; needs root or sudo).
set -euo pipefail
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v g++ >/dev/null 2>&1 || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
# Libraries of `propbf evaluate`.
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
[ -f /usr/include/toml++/toml.h ] || need+=(libtomlplusplus-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/boost/math/special_functions/beta.hpp ] || need+=(libboost-math-dev)
[ -f /usr/include/boost/random/normal_distribution.hpp ] || need+=(libboost-math-dev)  # Boost.Random: same headers package
[ -f /usr/include/glpk.h ] || need+=(libglpk-dev)
[ -f /usr/include/Random123/philox.h ] || need+=(librandom123-dev)
[ -f /usr/include/csv.h ] || need+=(libcsv-dev)
[ -f /usr/include/cdd/cdd.h ] || need+=(libcdd-dev)
# The test of a plan's parts run side by side.
command -v parallel >/dev/null 2>&1 || need+=(parallel)
# clang++ builds (CXX=clang++, the ThreadSanitizer and fuzz builds): the compiler, its
# OpenMP runtime (libomp, with the ThreadSanitizer tool libarcher) and its sanitizer runtimes.
if [[ "${CXX:-}" == *clang* || "${PROPBF_TSAN:-OFF}" == ON || "${NEED_CLANG:-}" == 1 ]]; then
  command -v clang++ >/dev/null 2>&1 || need+=(clang)
  compgen -G "/usr/lib/llvm-*/lib/libomp.so" >/dev/null || need+=(libomp-dev)
  compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.tsan-x86_64.a" >/dev/null ||
    need+=(libclang-rt-dev)
fi
# The R package (scripts/build-r-package.sh, scripts/check-r-package.sh; NEED_R=1): R with
# its headers and the R packages it builds on, from the Debian archive.
if [[ "${NEED_R:-}" == 1 ]]; then
  command -v R >/dev/null 2>&1 && [ -f /usr/share/R/include/R.h ] || need+=(r-base-dev)
  # BH for Boost's headers; vdiffr, knitr, rmarkdown (with pandoc) and ggplot2 for the
  # check's snapshots, vignette and autoplot(); checkbashisms (devscripts) and qpdf for
  # --as-cran.
  for package in cpp11 BH testthat vdiffr knitr rmarkdown ggplot2; do
    compgen -G "/usr/lib/R/site-library/$package/DESCRIPTION" >/dev/null ||
      compgen -G "/usr/lib/R/library/$package/DESCRIPTION" >/dev/null || need+=("r-cran-${package,,}")
  done
  command -v pandoc >/dev/null 2>&1 || need+=(pandoc)
  command -v checkbashisms >/dev/null 2>&1 || need+=(devscripts)
  command -v qpdf >/dev/null 2>&1 || need+=(qpdf)  # --as-cran checks the vignette's PDFs with it
fi
if [ "${#need[@]}" -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${need[@]}"
fi
