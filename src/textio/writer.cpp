// Free-form and fixed-layout write steps.
//
// Free form: " " first; text items in full; an integer as "  " and its digits, or " -"
// and its digits when negative; a text right after an integer gets one blank first.
//
// Fixed layout: elements in order, each field taking the next value. After the last
// value the elements up to the next field are still processed, then the line ends. If
// values remain when the layout is used up, the line ends and the layout starts again
// from its first element (a layout without any field then stops). A field given a
// value of another kind (say a real for an integer field) is filled with asterisks.
// Every line ends with CR LF and goes to the unit as soon as it is complete.

#include <mutex>
#include <new>
#include <string>

#include "textio/connections.hpp"
#include "textio/text_utilities.hpp"
#include "textio/textio.hpp"

namespace propbf::textio {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool is_field(LayoutElement::Kind kind) {
  return kind == LayoutElement::Kind::FixedPoint || kind == LayoutElement::Kind::Integer ||
         kind == LayoutElement::Kind::Text;
}

std::string field_text(const LayoutElement& element, const FieldValue& value) {
  const std::string stars(element.width > 0 ? static_cast<std::size_t>(element.width) : 0, '*');
  switch (element.kind) {
    case LayoutElement::Kind::FixedPoint:
      if (value.kind != FieldValue::Kind::Real) return stars;
      return fixed_point_field(value.real, element.width, element.decimals);
    case LayoutElement::Kind::Integer:
      if (value.kind != FieldValue::Kind::Integer) return stars;
      return integer_field(value.integer, element.width);
    case LayoutElement::Kind::Text: {
      if (value.kind != FieldValue::Kind::Text) return stars;
      if (element.width <= 0) return {};
      const std::size_t w = static_cast<std::size_t>(element.width);
      if (value.text.size() >= w) return std::string(value.text.substr(0, w));
      return std::string(w - value.text.size(), ' ') + std::string(value.text);
    }
    default:
      return {};
  }
}

// Emits the line held in `line` (CR LF added) and empties it.
void end_line(int32_t unit, std::string& line) {
  line.append(kLineEnd);
  detail::emit_line(unit, line);
  line.clear();
}

}  // namespace

std::string integer_field(int32_t value, int32_t width) {
  if (width <= 0) return {};
  std::string field(static_cast<std::size_t>(width), ' ');
  integer_field_in_place(value, field);
  return field;
}

void write_free(int32_t unit, std::initializer_list<FreeItem> items) {
  std::lock_guard<std::recursive_mutex> hold(detail::layer_lock());
  try {
    std::string line = " ";
    bool after_integer = false;
    for (const FreeItem& item : items) {
      if (item.is_text) {
        if (after_integer) line.push_back(' ');
        line.append(item.text);
        after_integer = false;
      } else {
        DecimalBuffer digits;
        line.append(item.integer < 0 ? " " : "  ");
        line.append(decimal_text(item.integer, digits));
        after_integer = true;
      }
    }
    end_line(unit, line);
  } catch (const std::bad_alloc&) {
    detail::allocation_failure();
  }
}

void write_fixed(int32_t unit, std::span<const LayoutElement> layout,
                 std::span<const FieldValue> values) {
  std::lock_guard<std::recursive_mutex> hold(detail::layer_lock());
  try {
    std::string line;
    std::size_t next_value = 0;
    bool has_field = false;
    for (const LayoutElement& element : layout) has_field = has_field || is_field(element.kind);
    for (;;) {
      bool stopped_at_field = false;
      for (const LayoutElement& element : layout) {
        if (is_field(element.kind)) {
          if (next_value == values.size()) {
            stopped_at_field = true;
            break;
          }
          line.append(field_text(element, values[next_value++]));
          continue;
        }
        switch (element.kind) {
          case LayoutElement::Kind::Blanks:
            if (element.count > 0) line.append(static_cast<std::size_t>(element.count), ' ');
            break;
          case LayoutElement::Kind::Literal:
            line.append(element.literal);
            break;
          case LayoutElement::Kind::LineBreak:
            end_line(unit, line);
            break;
          default:
            break;
        }
      }
      if (stopped_at_field || !has_field || next_value == values.size()) break;
      end_line(unit, line);  // values remain: the layout starts again on a new line
    }
    end_line(unit, line);
  } catch (const std::bad_alloc&) {
    detail::allocation_failure();
  }
}

void write_line(int32_t unit, std::string_view text) {
  const LayoutElement layout[] = {LayoutElement::text(text)};
  write_fixed(unit, layout, {});
}

}  // namespace propbf::textio
