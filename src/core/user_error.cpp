#include "core/user_error.h"

#include <fmt/format.h>

namespace kvo {

namespace {
// Code 99 carries a text that stands on its own; every other code is shown in front of it.
std::string userErrorText(int code, const std::string& message) {
  if (code == 99) return message;
  return fmt::format("{}: {}", code, message);
}
}  // namespace

UserErrorException::UserErrorException(int code, const std::string& message)
    : std::runtime_error(userErrorText(code, message)), code_(code), message_(message) {}

}  // namespace kvo
