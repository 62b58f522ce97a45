#pragma once

#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace lumivex {

// The one failure type of the core. Its message is the visible text; a caller
// that adds context wraps the original error, which is kept as the cause.
class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  Error(std::string message, const Error& cause)
      : message_(std::move(message)), cause_(std::make_shared<Error>(cause)) {}
  // A failure of the operating system, with its error number.
  Error(std::string message, int os_error) : message_(std::move(message)), os_error_(os_error) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  const Error* cause() const noexcept { return cause_.get(); }
  // The operating system's error number, 0 when the failure is not the system's.
  int os_error() const noexcept { return os_error_; }

 private:
  std::string message_;
  std::shared_ptr<const Error> cause_;
  int os_error_ = 0;
};

// The reader's failure when fewer bytes remain than a read needs.
inline constexpr const char* kEndOfData = "failed to fill whole buffer";

}  // namespace lumivex
