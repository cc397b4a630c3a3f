// Statement text with values written in as quoted literals. Every value becomes text in
// the files: texts with their apostrophes doubled (so no value can end its literal or
// change the statement), integers and times as decimal text, flags as '0' or '1'. Time
// conditions therefore compare text with text, which is time order for ten-digit times.
// Pure functions; any thread may call.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace engine::sql {

// 'text' with every apostrophe doubled.
std::string QuoteText(std::string_view text);

// One value as it is written into a statement.
class Value {
 public:
  Value(std::string_view text) : literal_(QuoteText(text)) {}
  Value(const std::string& text) : literal_(QuoteText(text)) {}
  Value(const char* text) : literal_(QuoteText(text != nullptr ? text : "")) {}
  template <std::integral T>
  Value(T number)
      : literal_(
            "'" +
            (std::same_as<T, bool> ? std::string(number ? "1" : "0") : std::to_string(number)) +
            "'") {}

  const std::string& Literal() const { return literal_; }

 private:
  std::string literal_;
};

// The pattern with each '?' replaced, in order, by the next value's literal. Patterns are
// this program's own constants; a count that does not match gives "" (which prepares to
// nothing, so nothing is written).
std::string Build(std::string_view pattern, std::initializer_list<Value> values);

}  // namespace engine::sql
