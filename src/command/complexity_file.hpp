// Complexity files: the complexities of a run or a batch saved as JSON
// (--save-complexity) and loaded by a later run (--load-complexity), which then runs no
// complexity chain for a hypothesis whose key they hold and gives the same bytes as one
// that computes it. The format is described in docs/batches.md.
#pragma once

#include <string>

#include "engine/complexity_cache.hpp"

namespace propbf::evaluate {

// The version of the format written; a file of another version is refused. Version 2
// holds the levels of rare stages (version 1, never released, did not).
inline constexpr int kComplexityFileVersion = 2;
// The largest complexity file read.
inline constexpr std::size_t kMaxComplexityFileBytes = std::size_t{64} << 20;

// The records of `cache` as a complexity file (JSON), `version` the program's.
std::string format_complexity_file(const ComplexityCache& cache, const std::string& version);

// Reads the complexity file `path` into `cache` (its records marked loaded, its source
// set to `path`). Throws InputError, naming the file and the place in it, for a file
// that cannot be read, is larger than kMaxComplexityFileBytes, is not JSON, nests deeper
// than the format does, is of another format or version, or holds a value of the wrong
// kind or out of its range; the cache is then left as it was.
void read_complexity_file(const std::string& path, ComplexityCache& cache);

// The same from the file's bytes (`path` names it in messages).
void parse_complexity_file(const std::string& path, const std::string& bytes, ComplexityCache& cache);

}  // namespace propbf::evaluate
