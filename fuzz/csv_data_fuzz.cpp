// Fuzz target: reading item counts from CSV, with the fuzz data as the file. Every input
// ends either with a message (InputError) naming the file, or with items whose names
// the hypotheses can use and whose counts hold 0 <= successes <= trials <= the limit,
// one place per item; nothing else may escape (an exception, a crash, a sanitizer report).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "input/csv_data.hpp"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace propbf::evaluate;
  CsvData read;
  try {
    read = parse_csv_data("fuzz.csv", std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const InputError& error) {
    require(std::string_view(error.what()).substr(0, 8) == "fuzz.csv", "a message names the file");
    return 0;
  }
  require(!read.items.empty(), "at least one item");
  require(read.places.size() == read.items.size(), "one place per item");
  std::set<std::string> names;
  for (const Item& item : read.items) {
    require(is_item_name(item.name), "item names are names of the hypothesis language");
    require(names.insert(item.name).second, "item names are distinct");
    require(item.successes >= 0 && item.successes <= item.trials, "0 <= successes <= trials");
    require(item.trials <= kMaxCount || item.trials <= static_cast<std::int64_t>(size), "trials within the limit");
  }
  return 0;
}
