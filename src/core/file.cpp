#include "core/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "core/error.h"
#include "core/text.h"

namespace lumivex {
namespace {

constexpr uint64_t kMaxFileSize = uint64_t{1} << 32;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, reporting the error a close can carry (a delayed write error).
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

[[noreturn]] void throw_os_error(int error_number) { throw Error(os_error_message(error_number), error_number); }

// The system calls take NUL-terminated paths: one with a NUL inside would name
// another file.
void check_path(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw Error("file name contained an unexpected NUL byte");
}

// Reads until the buffer is full or the file ends; returns the bytes read.
std::size_t read_fully(int fd, uint8_t* into, std::size_t want) {
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::read(fd, into + got, want - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_os_error(errno);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

}  // namespace

void ByteBuffer::Free::operator()(uint8_t* bytes) const { std::free(bytes); }

ByteBuffer::ByteBuffer(std::size_t size) { resize(size); }

ByteBuffer::ByteBuffer(const void* data, std::size_t size) : ByteBuffer(size) {
  if (size) std::memcpy(bytes_.get(), data, size);
}

void ByteBuffer::resize(std::size_t size) {
  // One byte at least, so that an empty buffer still has an address.
  void* resized = std::realloc(bytes_.get(), std::max<std::size_t>(size, 1));
  if (!resized) throw std::bad_alloc();
  bytes_.release();
  bytes_.reset(static_cast<uint8_t*>(resized));
  size_ = size;
}

std::string os_error_message(int error_number) {
  char buf[256];
  const char* text = ::strerror_r(error_number, buf, sizeof buf);
  return std::string(text) + " (os error " + std::to_string(error_number) + ")";
}

std::string quote_path(std::string_view path) {
  return debug_quote(is_valid_utf8(path) ? std::string(path) : utf8_replace_invalid(path));
}

ByteBuffer read_file(const std::string& path, [[maybe_unused]] const InterruptCheck& interrupt) {
  check_path(path);
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw_os_error(errno);
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) throw_os_error(errno);
  if (S_ISDIR(info.st_mode)) throw_os_error(EISDIR);
  if (S_ISREG(info.st_mode)) {
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > kMaxFileSize) throw_os_error(EFBIG);
    ByteBuffer buffer(static_cast<std::size_t>(size));
    const std::size_t got = read_fully(fd.get(), buffer.data(), buffer.size());
    // A file that shrank while being read keeps what was there; one that grew
    // is read as it was when it was opened.
    buffer.resize(got);
    return buffer;
  }
  // Pipes and devices: read in growing steps, up to the same limit.
  ByteBuffer buffer(64 * 1024);
  std::size_t used = 0;
  for (;;) {
    used += read_fully(fd.get(), buffer.data() + used, buffer.size() - used);
    if (used < buffer.size()) break;
    if (buffer.size() >= kMaxFileSize) throw_os_error(EFBIG);
    buffer.resize(std::min<uint64_t>(uint64_t{buffer.size()} * 2, kMaxFileSize));
  }
  buffer.resize(used);
  return buffer;
}

ByteBuffer read_text_file(const std::string& path, const InterruptCheck& interrupt) {
  const std::string failure = "Failed to read " + utf8_replace_invalid(path);
  ByteBuffer bytes;
  try {
    bytes = read_file(path, interrupt);
  } catch (const Error& e) {
    throw Error(failure, e);
  }
  if (!is_valid_utf8(bytes.view())) throw Error(failure, Error("stream did not contain valid UTF-8"));
  return bytes;
}

void replace_file(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts,
                  [[maybe_unused]] const InterruptCheck& interrupt) {
  check_path(path);
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) throw_os_error(EISDIR);
  std::random_device random;
  std::string temporary;
  int raw_fd = -1;
  for (int attempt = 0; attempt < 16 && raw_fd < 0; ++attempt) {
    temporary = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(random());
    raw_fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw_fd < 0 && errno != EEXIST) throw_os_error(errno);
  }
  if (raw_fd < 0) throw_os_error(EEXIST);
  FileDescriptor fd(raw_fd);
  const auto fail = [&](int error_number) {
    ::unlink(temporary.c_str());
    throw_os_error(error_number);
  };
  // An existing file keeps its permissions.
  if (::stat(path.c_str(), &info) == 0 && ::fchmod(fd.get(), info.st_mode & 07777) != 0) fail(errno);
  for (std::span<const uint8_t> bytes : parts) {
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
      if (n < 0) {
        if (errno == EINTR) continue;
        fail(errno);
      }
      written += static_cast<std::size_t>(n);
    }
  }
  if (fd.close() != 0) fail(errno);
  if (::rename(temporary.c_str(), path.c_str()) != 0) fail(errno);
}

}  // namespace lumivex
