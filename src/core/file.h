#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// The most bytes a file read may hold: what 32-bit offsets can address.
inline constexpr uint64_t kMaxFileSize = uint64_t{1} << 32;
// The most bytes of a text format's file, far above any real description.
inline constexpr uint64_t kMaxTextFileSize = uint64_t{64} << 20;

// Which files a read of a path takes.
struct FileRule {
  // Opens without waiting (a FIFO without a writer) and refuses anything but
  // a regular file, with Error "not a regular file".
  bool regular_only = false;
  // Where given, refuses a file whose real path, as the system opened it,
  // does not lie inside this folder: a link swapped in after the caller
  // checked the path cannot lead the read out of it.
  std::string inside;
};

// How a file is read.
struct ReadOptions {
  // A longer file fails with EFBIG, a regular file before it is read.
  uint64_t max_size = kMaxFileSize;
  FileRule rule;
  // Asked with the bytes read so far after each read from a pipe or a device;
  // false ends the read there, when they already show the stream is not of the
  // format wanted, and the bytes so far are returned.
  std::function<bool(std::span<const uint8_t>)> worth_reading;
};

// The whole file. Throws Error with the operating system's message; a file
// larger than the options allow, a directory or an endless device fails
// instead of exhausting memory. A regular file is read in one go; a pipe or a
// device is read as its bytes come, with the interrupt check asked between
// reads.
ByteBuffer read_file(const std::string& path, const InterruptCheck& interrupt = {}, const ReadOptions& options = {});

// The whole file of a text format, its bytes as they are, UTF-8 or not, at
// most kMaxTextFileSize of them, taken as the rule says.
// Throws Error "Failed to read <path>" with the path as given, the operating
// system's error kept as the cause.
ByteBuffer read_text_file_bytes(const std::string& path, const InterruptCheck& interrupt = {},
                                const FileRule& rule = {});

// The whole file, which must be UTF-8 text. Throws Error "Failed to read
// <path>" with the path as given, the operating system's error or the invalid
// encoding kept as the cause.
ByteBuffer read_text_file(const std::string& path, const InterruptCheck& interrupt = {}, const FileRule& rule = {});

// Writes the parts, one after the other, as the new content of the file at
// path, where opening it for writing would write: symbolic links are followed
// to the file they name, and a pipe or a device is written to, never replaced.
// A regular file is replaced through a temporary file beside it
// (".<first 16 bytes of its name>.lumivex-XXXXXX"), synced to disk and renamed
// over it, keeping its owner, group and mode, so a failure, a kill or a power
// cut leaves the old content or the new one. A file with other names (hard
// links), whose owner the caller cannot give to a new file, or in a folder
// the caller cannot write to, is written in place instead: space for the new
// content is reserved first and the old content is kept in memory and written
// back on any failure, so only a kill or a power cut during the write can
// leave a mix of the two. Refuses a directory (EISDIR), a file the caller may
// not write (EACCES, EPERM) and one written in place that the caller may not
// read (EACCES), whose old content could not be kept. Throws Error with the
// operating system's message and error number; a temporary file is removed
// whatever is thrown, the interrupt check's exceptions included.
void save_file(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts,
               const InterruptCheck& interrupt = {});

// A file to save and its new content, in parts written one after the other.
struct FileContent {
  std::string path;
  std::vector<std::span<const uint8_t>> parts;
};

// Saves several files as one change, as nearly as the file system allows:
// every file is first prepared as save_file would write it and every
// temporary file is written and synced, so that any failure up to there
// removes them all and leaves every file as it was; then the files written in
// place are written and the temporary files renamed over their targets, one
// after the other. A failure there throws Error naming the files replaced
// before it and those left as they were; only a kill or a power cut between
// two renames leaves some files old and some new without saying so. A file
// that could only be written in place (see save_file) is refused before
// anything is written, with the reason, unless in_place. Two paths naming one
// file are refused. Every Error names the file it is about, and sets
// *failed_file, when given, to its index.
void save_files(std::span<const FileContent> files, bool in_place, const InterruptCheck& interrupt = {},
                std::size_t* failed_file = nullptr);

// Everything save_files does before it writes: each file checked and its
// temporary file made, then removed. Throws what save_files would throw up to
// there, and writes nothing.
void check_save_files(std::span<const FileContent> files, bool in_place, const InterruptCheck& interrupt = {},
                      std::size_t* failed_file = nullptr);

}  // namespace lumivex
