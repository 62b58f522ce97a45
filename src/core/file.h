#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace lumivex {

// A file's or a caller's bytes, owned once and never copied again.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::size_t size);
  ByteBuffer(const void* data, std::size_t size);

  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  std::span<const uint8_t> span() const { return {bytes_.get(), size_}; }
  std::string_view view() const { return {reinterpret_cast<const char*>(bytes_.get()), size_}; }
  // Changes the size, keeping the first bytes; large blocks are remapped
  // rather than copied.
  void resize(std::size_t size);

 private:
  struct Free {
    void operator()(uint8_t* bytes) const;
  };
  std::unique_ptr<uint8_t, Free> bytes_;
  std::size_t size_ = 0;
};

// The operating system's text for an error number: "<text> (os error <n>)".
std::string os_error_message(int error_number);

// A path in double quotes with the escapes of quoted text, for messages.
std::string quote_path(std::string_view path);

// Asked between the steps of a read or a write that may wait (a pipe, a
// device, a slow disk) and whenever a system call is interrupted by a signal.
// It runs without any lock of the caller's and throws to abandon the
// operation; an empty check never abandons.
using InterruptCheck = std::function<void()>;

// The whole file. Throws Error with the operating system's message; a file
// larger than 4 GiB (beyond what 32-bit offsets can address), a directory or
// an endless device fails instead of exhausting memory.
ByteBuffer read_file(const std::string& path, const InterruptCheck& interrupt = {});

// The whole file, which must be UTF-8 text. Throws Error "Failed to read
// <path>" with the path as given, the operating system's error or the invalid
// encoding kept as the cause.
ByteBuffer read_text_file(const std::string& path, const InterruptCheck& interrupt = {});

// Writes the parts, one after the other, to a temporary file beside path and
// renames it over path, so a failure leaves an existing file as it was.
// Throws Error with the operating system's message.
void replace_file(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts,
                  const InterruptCheck& interrupt = {});

}  // namespace lumivex
