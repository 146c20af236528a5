#pragma once
// Whole-text number parsing for the airport files and the airport list: blanks around the number
// are allowed, anything else after it is not.
#include <charconv>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "core/text.h"

namespace kvo {

template <typename T>
bool parseNumberText(std::string_view text, T& out, int base = 10) {
  text = trimView(text);
  if (text.empty()) return false;
  std::from_chars_result r;
  if constexpr (std::is_floating_point_v<T>) {
    r = std::from_chars(text.data(), text.data() + text.size(), out);
  } else {
    r = std::from_chars(text.data(), text.data() + text.size(), out, base);
  }
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

}  // namespace kvo
