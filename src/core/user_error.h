#pragma once
#include <stdexcept>
#include <string>

namespace kvo {

// An error the user must see: a numeric code and a message. what() is "{code}: {message}", or
// the bare message for code 99.
class UserErrorException : public std::runtime_error {
 public:
  UserErrorException(int code, const std::string& message);
  int code() const noexcept { return code_; }
  const std::string& message() const noexcept { return message_; }

 private:
  int code_;
  std::string message_;
};

}  // namespace kvo
