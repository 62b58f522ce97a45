#include "core/file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "core/error.h"
#include "core/text.h"

namespace lumivex {
namespace {

using Parts = std::span<const std::span<const uint8_t>>;

// Pipes and devices may wait or never end: they move this much between two
// interrupt checks.
constexpr std::size_t kStreamStep = std::size_t{1} << 20;
// Writes to regular files ask the interrupt check this often.
constexpr std::size_t kFileStep = std::size_t{64} << 20;
// The kernel's own limit on symbolic links followed for one path.
constexpr int kMaxLinks = 40;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  // The descriptor held before goes to other, which closes it.
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
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
// another file. An empty path names none (and a save would first write its
// temporary file into the working folder).
void check_path(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw Error("file name contained an unexpected NUL byte");
  if (path.empty()) throw_os_error(ENOENT);
}

void ask(const InterruptCheck& interrupt) {
  if (interrupt) interrupt();
}

// Runs a system call again when a signal interrupted it, after asking the
// interrupt check; returns the call's result, with errno set on failure.
template <typename Call>
auto retry_interrupted(const InterruptCheck& interrupt, Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
    ask(interrupt);
  }
}

// A pipe's or a device's open waits for the other end; a failure leaves the
// descriptor invalid and errno set.
FileDescriptor open_file(const std::string& path, int flags, const InterruptCheck& interrupt, mode_t mode = 0) {
  return FileDescriptor(retry_interrupted(interrupt, [&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); }));
}

// Reads until the buffer is full or the file ends; returns the bytes read.
std::size_t read_fully(int fd, uint8_t* into, std::size_t want, const InterruptCheck& interrupt) {
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = retry_interrupted(interrupt, [&] { return ::read(fd, into + got, want - got); });
    if (n < 0) throw_os_error(errno);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

void write_fully(int fd, Parts parts, std::size_t step, const InterruptCheck& interrupt) {
  for (std::span<const uint8_t> bytes : parts) {
    std::size_t written = 0;
    while (written < bytes.size()) {
      ask(interrupt);
      const std::size_t want = std::min(step, bytes.size() - written);
      const ssize_t n = retry_interrupted(interrupt, [&] { return ::write(fd, bytes.data() + written, want); });
      if (n < 0) throw_os_error(errno);
      written += static_cast<std::size_t>(n);
    }
  }
}

void sync(int fd) {
  if (retry_interrupted({}, [&] { return ::fsync(fd); }) != 0) throw_os_error(errno);
}

void close_checked(FileDescriptor& fd) {
  if (fd.close() != 0) throw_os_error(errno);
}

// The folder part of a path, with its final slash: "" for a bare name.
std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// The file a save writes: path with its symbolic links followed, as opening it
// would, and what it is now.
struct SaveTarget {
  std::string path;
  bool exists = false;
  struct stat info = {};
};

SaveTarget resolve_target(const std::string& path) {
  SaveTarget target{path};
  // A pipe, a socket or a device is written where opening the path leads,
  // through links no text names (/dev/stdout leads to "pipe:[...]").
  struct stat opened = {};
  if (::stat(path.c_str(), &opened) == 0 && !S_ISREG(opened.st_mode) && !S_ISDIR(opened.st_mode)) {
    target.exists = true;
    target.info = opened;
    return target;
  }
  for (int links = 0;; ++links) {
    if (::lstat(target.path.c_str(), &target.info) != 0) {
      // A missing file (or a link to one) is created; a missing folder fails
      // when the file is created in it.
      if (errno == ENOENT) return target;
      throw_os_error(errno);
    }
    if (!S_ISLNK(target.info.st_mode)) {
      target.exists = true;
      return target;
    }
    if (links == kMaxLinks) throw_os_error(ELOOP);
    char destination[PATH_MAX];
    const ssize_t length = ::readlink(target.path.c_str(), destination, sizeof destination);
    if (length < 0) throw_os_error(errno);
    if (static_cast<std::size_t>(length) == sizeof destination) throw_os_error(ENAMETOOLONG);
    std::string link(destination, static_cast<std::size_t>(length));
    // A relative destination starts from the link's own folder.
    target.path = link.starts_with('/') ? std::move(link) : folder_of(target.path) + link;
  }
}

// ".<at most 16 bytes of the name>.lumivex-XXXXXX" beside the target: hidden,
// recognisable, and 32 bytes at most however long the name is.
std::string temporary_path(const std::string& target, uint32_t random) {
  const std::string folder = folder_of(target);
  const std::string_view name = std::string_view(target).substr(folder.size());
  // The name is cut between two characters, not inside one.
  std::size_t kept = std::min<std::size_t>(name.size(), 16);
  while (kept > 0 && kept < name.size() && (static_cast<uint8_t>(name[kept]) & 0xC0) == 0x80) --kept;
  std::string path = folder + "." + std::string(name.substr(0, kept)) + ".lumivex-";
  for (int i = 0; i < 6; ++i, random /= 36) path += "0123456789abcdefghijklmnopqrstuvwxyz"[random % 36];
  return path;
}

// A new file beside a target, removed again unless it was renamed over it.
class TemporaryFile {
 public:
  TemporaryFile(const std::string& target, const InterruptCheck& interrupt) {
    for (int attempt = 0; attempt < 16; ++attempt) {
      uint32_t random;
      if (::getrandom(&random, sizeof random, 0) != sizeof random) throw_os_error(errno);
      path_ = temporary_path(target, random);
      fd_ = open_file(path_, O_WRONLY | O_CREAT | O_EXCL, interrupt, 0666);
      if (fd_.get() >= 0 || errno != EEXIST) break;
    }
    error_ = fd_.get() < 0 ? errno : 0;
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (error_ == 0 && !renamed_) ::unlink(path_.c_str());
  }

  // 0 once the file exists, else the system's reason it could not be made.
  int error() const { return error_; }
  int fd() const { return fd_.get(); }

  void rename_over(const std::string& target) {
    close_checked(fd_);
    if (::rename(path_.c_str(), target.c_str()) != 0) throw_os_error(errno);
    renamed_ = true;
  }

 private:
  std::string path_;
  FileDescriptor fd_{-1};
  int error_ = 0;
  bool renamed_ = false;
};

// Makes a rename in the folder survive a power cut. A folder that cannot be
// opened for reading, or a file system that cannot sync one, promises less.
void sync_folder(const std::string& target) {
  const std::string folder = folder_of(target);
  FileDescriptor fd = open_file(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY, {});
  if (fd.get() < 0) {
    if (errno == EACCES) return;
    throw_os_error(errno);
  }
  if (::fsync(fd.get()) != 0 && errno != EINVAL) throw_os_error(errno);
}

// Writes over a file that has to keep its identity: its other names, an owner
// the caller cannot give, or a folder that takes no new files. Space for the
// new content is reserved first, so that a full disk, a quota or a file size
// limit fails before the old content is touched; the old content is kept in
// memory until the new one is synced, and written back when anything fails
// on the way, the interrupt check's exceptions included. A file the caller
// cannot read is refused, as its old content could not be kept.
void overwrite(const std::string& path, Parts parts, const InterruptCheck& interrupt) {
  FileDescriptor fd = open_file(path, O_RDWR, interrupt);
  if (fd.get() < 0) throw_os_error(errno);
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) throw_os_error(errno);
  const auto old_size = static_cast<uint64_t>(info.st_size);
  if (old_size > kMaxFileSize) throw_os_error(EFBIG);
  ByteBuffer old(static_cast<std::size_t>(old_size));
  if (read_fully(fd.get(), old.data(), old.size(), interrupt) != old.size()) throw_os_error(EIO);
  uint64_t new_size = 0;
  for (std::span<const uint8_t> part : parts) new_size += part.size();
  if (new_size > old_size) {
    const int error =
        ::posix_fallocate(fd.get(), static_cast<off_t>(old_size), static_cast<off_t>(new_size - old_size));
    if (error != 0) {
      // A reservation that failed part of the way may have grown the file.
      if (::ftruncate(fd.get(), static_cast<off_t>(old_size)) != 0) throw_os_error(errno);
      throw_os_error(error);
    }
  }
  try {
    if (::lseek(fd.get(), 0, SEEK_SET) != 0) throw_os_error(errno);
    write_fully(fd.get(), parts, kFileStep, interrupt);
    if (::ftruncate(fd.get(), static_cast<off_t>(new_size)) != 0) throw_os_error(errno);
    sync(fd.get());
  } catch (...) {
    // Best effort: the first failure is the one reported.
    if (::lseek(fd.get(), 0, SEEK_SET) == 0) {
      try {
        const std::span<const uint8_t> old_content[] = {old.span()};
        write_fully(fd.get(), old_content, kFileStep, {});
        if (::ftruncate(fd.get(), static_cast<off_t>(old_size)) == 0) sync(fd.get());
      } catch (const Error&) {
      }
    }
    throw;
  }
  close_checked(fd);
}

// One file of a save, taken in three steps: prepared (its target resolved
// and checked, and either a temporary file made beside it with its owner,
// group and mode, or the reason it must be written in place found), its
// temporary file written and synced, then committed (renamed over the target,
// or the target written in place). A temporary file not renamed is removed.
class PendingFile {
  static constexpr const char* kNotRegular = "it is not a regular file";

 public:
  // A check only (check_only) asks whether the caller may write a file that
  // is not a regular one without opening it: opening a FIFO waits for a
  // reader, and closing it again would end that reader's input.
  PendingFile(const std::string& path, Parts parts, const InterruptCheck& interrupt, bool check_only = false)
      : target_(resolve_checked(path)), parts_(parts) {
    if (!target_.exists) {
      make_temporary(interrupt);
      const std::string folder = folder_of(target_.path);
      if (::stat(folder.empty() ? "." : folder.c_str(), &folder_info_) != 0) throw_os_error(errno);
      return;
    }
    if (S_ISDIR(target_.info.st_mode)) throw_os_error(EISDIR);
    if (check_only && !S_ISREG(target_.info.st_mode)) {
      if (::faccessat(AT_FDCWD, target_.path.c_str(), W_OK, AT_EACCESS) != 0) throw_os_error(errno);
      in_place_reason_ = kNotRegular;
      return;
    }
    // Opening the file for writing decides whether the caller may write it.
    FileDescriptor fd = open_file(target_.path, O_WRONLY, interrupt);
    if (fd.get() < 0) throw_os_error(errno);
    if (!S_ISREG(target_.info.st_mode)) {
      direct_ = std::move(fd);
      in_place_reason_ = kNotRegular;
      return;
    }
    close_checked(fd);
    // A rename would leave the other names of a hard-linked file on the old content.
    if (target_.info.st_nlink != 1) {
      in_place_reason_ = "it has other names (hard links)";
      return;
    }
    make_temporary(interrupt);
  }

  // Why the file can only be written in place, or nullptr where a new file
  // replaces it.
  const char* in_place_reason() const { return in_place_reason_; }
  // Whether both name the same file: files that exist are told apart by what
  // they are, new ones by their folder and name ("x" and "./x" are one).
  bool same_file(const PendingFile& other) const {
    if (target_.exists != other.target_.exists) return false;
    const auto same = [](const struct stat& a, const struct stat& b) {
      return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    };
    if (target_.exists) return same(target_.info, other.target_.info);
    const auto name_of = [](const std::string& path) { return std::string_view(path).substr(folder_of(path).size()); };
    return same(folder_info_, other.folder_info_) && name_of(target_.path) == name_of(other.target_.path);
  }

  void write(const InterruptCheck& interrupt) {
    if (!temporary_) return;
    write_fully(temporary_->fd(), parts_, kFileStep, interrupt);
    sync(temporary_->fd());
  }

  // Sets replaced once the target holds the new content, which a failure
  // after it (syncing the folder) does not undo.
  void commit(const InterruptCheck& interrupt, bool& replaced) {
    if (temporary_) {
      temporary_->rename_over(target_.path);
      replaced = true;
      sync_folder(target_.path);
    } else if (direct_.get() >= 0) {
      write_fully(direct_.get(), parts_, kStreamStep, interrupt);
      replaced = true;
      close_checked(direct_);
    } else {
      overwrite(target_.path, parts_, interrupt);
      replaced = true;
    }
  }

 private:
  static SaveTarget resolve_checked(const std::string& path) {
    check_path(path);
    return resolve_target(path);
  }

  // A folder that takes no new files, or an owner the caller cannot give to
  // a new file, leaves an existing target to be written in place.
  void make_temporary(const InterruptCheck& interrupt) {
    temporary_.emplace(target_.path, interrupt);
    if (const int error = temporary_->error(); error != 0) {
      temporary_.reset();
      if (!target_.exists || (error != EACCES && error != EPERM)) throw_os_error(error);
      in_place_reason_ = "its folder takes no new files";
      return;
    }
    if (!target_.exists) return;
    // The owner first: changing it clears the set-user-ID and set-group-ID bits.
    if (::fchown(temporary_->fd(), target_.info.st_uid, target_.info.st_gid) != 0) {
      const int error = errno;
      temporary_.reset();
      if (error != EPERM) throw_os_error(error);
      in_place_reason_ = "its owner cannot be given to a new file";
      return;
    }
    if (::fchmod(temporary_->fd(), target_.info.st_mode & 07777) != 0) throw_os_error(errno);
  }

  SaveTarget target_;
  struct stat folder_info_ = {};  // the folder of a target yet to be made
  Parts parts_;
  std::optional<TemporaryFile> temporary_;
  FileDescriptor direct_{-1};  // a pipe or a device, open for writing
  const char* in_place_reason_ = nullptr;
};

// The paths of the files, each quoted, in the order given.
std::string quoted_list(std::span<const FileContent> files, const std::vector<bool>& wanted, bool which) {
  std::string list;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (wanted[i] == which) list += (list.empty() ? "" : ", ") + quote_path(files[i].path);
  return list.empty() ? "none" : list;
}

// The failure of reading a text format's file, the path as given.
std::string text_read_failure(const std::string& path) { return "Failed to read " + utf8_replace_invalid(path); }

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

namespace {

// The real path of the file open as fd, as the system resolved it when it
// opened path; path resolved again where the system does not tell.
std::string opened_real_path(int fd, const std::string& path) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string real(PATH_MAX, '\0');
  const ssize_t size = ::readlink(link.c_str(), real.data(), real.size());
  if (size > 0 && static_cast<std::size_t>(size) < real.size()) {
    real.resize(static_cast<std::size_t>(size));
    return real;
  }
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) throw_os_error(errno);
  return resolved.get();
}

// Refuses the file open as fd unless it lies inside folder.
void check_inside(int fd, const std::string& path, const std::string& folder) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(folder.c_str(), nullptr), &std::free);
  if (!resolved) {
    const std::string reason = os_error_message(errno);
    // Not the file's own failure: an error number would name the file.
    throw Error("Cannot resolve the folder " + quote_path(folder), Error(reason));
  }
  const std::string_view real_folder = resolved.get();
  const std::string real = opened_real_path(fd, path);
  const bool inside =
      real_folder == "/" || real == real_folder || (real.starts_with(real_folder) && real[real_folder.size()] == '/');
  if (!inside) throw Error("it leads outside " + quote_path(real_folder));
}

}  // namespace

ByteBuffer read_file(const std::string& path, const InterruptCheck& interrupt, const ReadOptions& options) {
  check_path(path);
  FileDescriptor fd = open_file(path, O_RDONLY | (options.rule.regular_only ? O_NONBLOCK : 0), interrupt);
  if (fd.get() < 0) throw_os_error(errno);
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) throw_os_error(errno);
  if (S_ISDIR(info.st_mode)) throw_os_error(EISDIR);
  if (options.rule.regular_only && !S_ISREG(info.st_mode)) throw Error("not a regular file");
  if (!options.rule.inside.empty()) check_inside(fd.get(), path, options.rule.inside);
  if (S_ISREG(info.st_mode)) {
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > options.max_size) throw_os_error(EFBIG);
    ByteBuffer buffer(static_cast<std::size_t>(size));
    const std::size_t got = read_fully(fd.get(), buffer.data(), buffer.size(), interrupt);
    // A file that shrank while being read keeps what was there; one that grew
    // is read as it was when it was opened.
    buffer.resize(got);
    return buffer;
  }
  // Pipes and devices: as the bytes come, into a buffer that doubles up to one
  // byte past the limit, so that reaching that byte means the stream is too long.
  ByteBuffer buffer(kStreamStep);
  std::size_t used = 0;
  for (;;) {
    if (used == buffer.size()) {
      if (used > options.max_size) throw_os_error(EFBIG);
      buffer.resize(std::min<uint64_t>(uint64_t{used} * 2, options.max_size + 1));
    }
    ask(interrupt);
    const std::size_t want = std::min(kStreamStep, buffer.size() - used);
    const ssize_t got = retry_interrupted(interrupt, [&] { return ::read(fd.get(), buffer.data() + used, want); });
    if (got < 0) throw_os_error(errno);
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
    if (options.worth_reading && !options.worth_reading({buffer.data(), used})) break;
  }
  buffer.resize(used);
  return buffer;
}

ByteBuffer read_text_file_bytes(const std::string& path, const InterruptCheck& interrupt, const FileRule& rule) {
  try {
    ReadOptions options;
    options.max_size = kMaxTextFileSize;
    options.rule = rule;
    return read_file(path, interrupt, options);
  } catch (const Error& e) {
    throw Error(text_read_failure(path), e);
  }
}

ByteBuffer read_text_file(const std::string& path, const InterruptCheck& interrupt, const FileRule& rule) {
  ByteBuffer bytes = read_text_file_bytes(path, interrupt, rule);
  if (!is_valid_utf8(bytes.view())) throw Error(text_read_failure(path), Error("stream did not contain valid UTF-8"));
  return bytes;
}

void save_file(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts,
               const InterruptCheck& interrupt) {
  PendingFile file(path, parts, interrupt);
  file.write(interrupt);
  bool replaced = false;
  file.commit(interrupt, replaced);
}

namespace {

// Runs work, an Error it throws named as a failure to write file i.
template <class Work>
auto about_file(std::span<const FileContent> files, std::size_t i, const std::string& what, Work&& work) {
  try {
    return work();
  } catch (const Error& e) {
    throw Error("Failed to write " + quote_path(files[i].path) + " (" + what + ")", e);
  }
}

// Every file of a save prepared, its temporary file made, in the order given;
// the first that is refused, with the reason, before anything is written.
// at is the file being prepared, which a failure is about.
std::vector<std::unique_ptr<PendingFile>> prepare_files(std::span<const FileContent> files, bool in_place,
                                                        const InterruptCheck& interrupt, bool check_only,
                                                        std::size_t& at) {
  std::vector<std::unique_ptr<PendingFile>> pending;
  pending.reserve(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    at = i;
    pending.push_back(about_file(files, i, "no file was changed", [&] {
      return std::make_unique<PendingFile>(files[i].path, files[i].parts, interrupt, check_only);
    }));
    for (std::size_t other = 0; other < i; ++other)
      if (pending[i]->same_file(*pending[other]))
        throw Error(quote_path(files[i].path) + " names the file " + quote_path(files[other].path) +
                    " names too; no file was changed");
    if (!in_place && pending[i]->in_place_reason())
      throw Error("Cannot replace " + quote_path(files[i].path) + " through a new file, as " +
                  pending[i]->in_place_reason() + "; no file was changed");
  }
  return pending;
}

// Runs save, which sets at to the file it works on, telling failed_file which
// file an Error it throws is about.
template <class Save>
void telling_failed_file(std::size_t* failed_file, Save&& save) {
  std::size_t at = 0;
  try {
    save(at);
  } catch (const Error&) {
    if (failed_file) *failed_file = at;
    throw;
  }
}

void save_all(std::span<const FileContent> files, bool in_place, const InterruptCheck& interrupt, std::size_t& at) {
  const std::vector<std::unique_ptr<PendingFile>> pending = prepare_files(files, in_place, interrupt, false, at);
  for (std::size_t i = 0; i < files.size(); ++i) {
    at = i;
    about_file(files, i, "no file was changed", [&] { pending[i]->write(interrupt); });
  }
  // Writes in place go first: they may still fail for want of space, which
  // leaves their file as it was.
  std::vector<std::size_t> order;
  for (const bool written_in_place : {true, false})
    for (std::size_t i = 0; i < files.size(); ++i)
      if ((pending[i]->in_place_reason() != nullptr) == written_in_place) order.push_back(i);
  std::vector<bool> replaced(files.size(), false);
  bool any_replaced = false;
  for (const std::size_t i : order) {
    at = i;
    bool done = false;
    try {
      // Once a file is replaced the rest follow: an interruption would leave
      // a mix nobody is told about.
      pending[i]->commit(any_replaced ? InterruptCheck{} : interrupt, done);
    } catch (const Error& e) {
      replaced[i] = done;
      any_replaced = any_replaced || done;
      if (!any_replaced) throw Error("Failed to write " + quote_path(files[i].path) + " (no file was changed)", e);
      throw Error("Failed to write " + quote_path(files[i].path) + " (replaced: " + quoted_list(files, replaced, true) +
                      "; left as they were: " + quoted_list(files, replaced, false) + ")",
                  e);
    }
    replaced[i] = true;
    any_replaced = true;
  }
}

}  // namespace

void check_save_files(std::span<const FileContent> files, bool in_place, const InterruptCheck& interrupt,
                      std::size_t* failed_file) {
  telling_failed_file(failed_file, [&](std::size_t& at) { prepare_files(files, in_place, interrupt, true, at); });
}

void save_files(std::span<const FileContent> files, bool in_place, const InterruptCheck& interrupt,
                std::size_t* failed_file) {
  telling_failed_file(failed_file, [&](std::size_t& at) { save_all(files, in_place, interrupt, at); });
}

}  // namespace lumivex
