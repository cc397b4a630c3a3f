#include "engine/data/sql_text.h"

#include <cassert>

namespace engine::sql {

std::string QuoteText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::string Build(std::string_view pattern, std::initializer_list<Value> values) {
  std::string out;
  auto next = values.begin();
  for (char c : pattern) {
    if (c != '?') {
      out += c;
      continue;
    }
    if (next == values.end()) {
      assert(!"more placeholders than values");
      return {};
    }
    out += (next++)->Literal();
  }
  if (next != values.end()) {
    assert(!"more values than placeholders");
    return {};
  }
  return out;
}

}  // namespace engine::sql
