// Messages as shown: on many generated messages (long lines, lists, control characters,
// caret lines anywhere), every shown line stays short and a caret still points at the
// byte it pointed at.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "messages/messages.hpp"

namespace propbf::evaluate {
namespace {

TEST(PrintableMessage, LinesStayShortAndCaretsKeepTheirByte) {
  std::mt19937 generator(20);
  const std::string alphabet = std::string(" ^,are\x1b\x7f\t\r") + "\xc2\x85\xe2\x82\xac" + "xyz";
  for (int n = 0; n < 20000; ++n) {
    std::string text = "    ";
    const std::size_t length = generator() % (n % 10 == 0 ? 4000 : 300);
    for (std::size_t i = 0; i < length; ++i) text.push_back(alphabet[generator() % alphabet.size()]);
    if (n % 3 == 0) text += " are a, b, c, d, e, f, g, h, i, j, k, l";
    const std::size_t caret = 4 + generator() % (text.size() - 3);
    const std::string message = "head\n" + text + "\n" + std::string(caret, ' ') + "^";
    const std::string shown = printable_message(message);
    std::size_t start = 0;
    std::string previous;
    for (;;) {
      const std::size_t end = shown.find('\n', start);
      const std::string line = shown.substr(start, end - start);
      ASSERT_LE(line.size(), 1700u) << n;
      if (end == std::string::npos) {
        // The caret, under the byte it marked when that byte shows as itself.
        ASSERT_EQ(line.back(), '^') << n;
        const char marked = caret < text.size() ? text[caret] : ' ';
        if (marked == 'x' || marked == 'y' || marked == 'z' || marked == ',') {
          ASSERT_EQ(previous.at(line.size() - 1), marked) << n;
        }
        break;
      }
      previous = line;
      start = end + 1;
    }
  }
}

}  // namespace
}  // namespace propbf::evaluate
