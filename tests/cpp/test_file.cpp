// The file layer's interrupt check and temporary files, which Python cannot
// drive: a check that throws its own exception type, on a signal or between
// the steps of a pipe's read.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "check.h"
#include "core/error.h"
#include "core/file.h"

using namespace lumivex;
namespace fs = std::filesystem;

namespace {

// What a test's interrupt check throws: not an Error, as a caller's own
// exception would not be.
struct Stopped {};

// A fresh folder, removed with everything in it.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "lumivex-file-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~Scratch() { fs::remove_all(path_); }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  std::set<std::string> names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.insert(entry.path().filename().string());
    return names;
  }

 private:
  fs::path path_;
};

std::size_t open_descriptors() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::span<const uint8_t> bytes_of(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A check that throws Stopped on its n-th call (never when n is 0).
struct CountingCheck {
  int stop_at = 0;
  std::shared_ptr<int> calls = std::make_shared<int>(0);
  void operator()() const {
    if (++*calls == stop_at) throw Stopped{};
  }
};

template <typename Body>
bool stops(Body body) {
  try {
    body();
  } catch (const Stopped&) {
    return true;
  }
  return false;
}

// Feeds a FIFO from another thread; stops quietly when the reader goes away.
class FifoWriter {
 public:
  FifoWriter(const fs::path& fifo, std::string bytes)
      : thread_([fifo, bytes = std::move(bytes)] {
          const int fd = ::open(fifo.c_str(), O_WRONLY);
          for (std::size_t done = 0; fd >= 0 && done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
          }
          if (fd >= 0) ::close(fd);
        }) {}
  ~FifoWriter() { thread_.join(); }

 private:
  std::thread thread_;
};

// Sends SIGUSR1 to the thread that made it, over and over, until destroyed,
// through a handler that lets the blocked system call fail with EINTR. The
// handler stays: a signal still on its way must find it.
class RepeatedSignal {
 public:
  RepeatedSignal() : target_(::pthread_self()) {
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    ::sigaction(SIGUSR1, &action, nullptr);
    thread_ = std::thread([this] {
      while (!done_) {
        ::pthread_kill(target_, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  ~RepeatedSignal() {
    done_ = true;
    thread_.join();
  }

 private:
  pthread_t target_;
  std::atomic<bool> done_ = false;
  std::thread thread_;
};

}  // namespace

TEST(pipe_read_asks_the_check_between_steps) {
  ::signal(SIGPIPE, SIG_IGN);
  const Scratch scratch;
  const fs::path fifo = scratch / "pipe";
  ::mkfifo(fifo.c_str(), 0600);
  const std::string sent(3 * 1024 * 1024 + 5, 'x');
  {
    const CountingCheck check;
    const FifoWriter writer(fifo, sent);
    const ByteBuffer got = read_file(fifo, check);
    CHECK(got.view() == sent);
    CHECK(*check.calls >= 4);
  }
  const std::size_t descriptors = open_descriptors();
  {
    const FifoWriter writer(fifo, sent);
    CHECK(stops([&] { read_file(fifo, CountingCheck{2}); }));
  }
  CHECK_EQ(open_descriptors(), descriptors);
}

TEST(endless_device_read_stops_at_the_check) {
  const std::size_t descriptors = open_descriptors();
  const CountingCheck check{3};
  CHECK(stops([&] { read_file("/dev/zero", check); }));
  CHECK_EQ(*check.calls, 3);
  CHECK_EQ(open_descriptors(), descriptors);
}

// A FIFO's open waits for the other end and its read waits for data: a signal
// interrupts either, and the check decides.
TEST(interrupted_waits_ask_the_check) {
  const Scratch scratch;
  const fs::path fifo = scratch / "pipe";
  ::mkfifo(fifo.c_str(), 0600);
  const std::string page = "page";
  const std::size_t descriptors = open_descriptors();
  {
    const RepeatedSignal signal;
    CHECK(stops([&] { read_file(fifo, CountingCheck{1}); }));
    CHECK(stops([&] { read_text_file(fifo, CountingCheck{1}); }));
    CHECK(stops([&] { save_file(fifo, {bytes_of(page)}, CountingCheck{1}); }));
  }
  CHECK_EQ(open_descriptors(), descriptors);
  // A writer that never writes: the open succeeds and the read waits.
  const int silent_writer = ::open(fifo.c_str(), O_RDWR);
  {
    const RepeatedSignal signal;
    // The first call comes before the first step, the second on the signal.
    CHECK(stops([&] { read_file(fifo, CountingCheck{2}); }));
  }
  ::close(silent_writer);
  CHECK_EQ(open_descriptors(), descriptors);
  CHECK(scratch.names() == std::set<std::string>{"pipe"});
}

TEST(save_removes_its_temporary_file_whatever_is_thrown) {
  const Scratch scratch;
  const std::string content(1000, 'n');
  const std::size_t descriptors = open_descriptors();
  CHECK(stops([&] { save_file(scratch / "new.prp", {bytes_of(content)}, CountingCheck{1}); }));
  CHECK(scratch.names().empty());
  std::ofstream(scratch / "old.prp") << "old";
  CHECK(stops([&] { save_file(scratch / "old.prp", {bytes_of(content)}, CountingCheck{1}); }));
  CHECK(scratch.names() == std::set<std::string>{"old.prp"});
  CHECK(contents(scratch / "old.prp") == "old");
  CHECK_EQ(open_descriptors(), descriptors);
}

// The temporary file is seen from the check, which is asked before the write.
TEST(temporary_name_stays_short_for_the_longest_names) {
  const Scratch scratch;
  const std::string latin(255, 'a');
  // 16 bytes would cut the eighth "é" in two: the name keeps seven.
  std::string accented = "a";
  for (int i = 0; i < 127; ++i) accented += "\u00e9";
  std::string accented_start = "a";
  for (int i = 0; i < 7; ++i) accented_start += "\u00e9";
  for (const auto& [name, start] : {std::pair{latin, std::string(16, 'a')}, std::pair{accented, accented_start}}) {
    CHECK_EQ(name.size(), 255u);
    std::set<std::string> seen;
    save_file(scratch / name, {bytes_of("content")}, [&] { seen = scratch.names(); });
    REQUIRE(seen.size() == 1);
    const std::string temporary = *seen.begin();
    CHECK_EQ(temporary.size(), 1 + start.size() + 9 + 6);
    CHECK(temporary.starts_with("." + start + ".lumivex-"));
    CHECK(scratch.names() == std::set<std::string>{name});
    CHECK(contents(scratch / name) == "content");
    fs::remove(scratch / name);
  }
}

TEST(fifo_is_written_in_place_in_steps) {
  const Scratch scratch;
  const fs::path fifo = scratch / "pipe";
  ::mkfifo(fifo.c_str(), 0600);
  const std::string content(3 * 1024 * 1024 + 5, 'p');
  std::string received;
  std::thread reader([&] {
    std::ifstream in(fifo, std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  });
  const CountingCheck check;
  save_file(fifo, {bytes_of(content)}, check);
  reader.join();
  CHECK(received == content);
  CHECK(*check.calls >= 4);
  struct stat info;
  CHECK(::lstat(fifo.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
  CHECK(scratch.names() == std::set<std::string>{"pipe"});
}

TEST(save_failures_carry_the_error_number) {
  const Scratch scratch;
  const auto error_of = [](const std::string& path) {
    try {
      save_file(path, {bytes_of("x")});
    } catch (const Error& e) {
      return e.os_error();
    }
    return 0;
  };
  fs::create_symlink("loop-b", scratch / "loop-a");
  fs::create_symlink("loop-a", scratch / "loop-b");
  CHECK_EQ(error_of(scratch / "loop-a"), ELOOP);
  CHECK_EQ(error_of(scratch.operator/("")), EISDIR);
  CHECK_EQ(error_of(scratch / "missing" / "x.prp"), ENOENT);
  CHECK_EQ(error_of(""), ENOENT);
  CHECK(scratch.names() == (std::set<std::string>{"loop-a", "loop-b"}));
}

// A file with other names is written in place: a failure after the first part
// is written, here the check's, puts the old content back under every name.
TEST(failed_write_in_place_puts_the_old_content_back) {
  const Scratch scratch;
  const std::string first(5000, 'n'), second(3000, 'm');
  for (const std::string& old : {std::string(100, 'o'), std::string(20000, 'o')}) {
    std::ofstream(scratch / "page.prp") << old;
    fs::create_hard_link(scratch / "page.prp", scratch / "other.prp");
    const std::size_t descriptors = open_descriptors();
    CHECK(stops([&] { save_file(scratch / "page.prp", {bytes_of(first), bytes_of(second)}, CountingCheck{2}); }));
    CHECK(contents(scratch / "page.prp") == old);
    CHECK(contents(scratch / "other.prp") == old);
    CHECK(scratch.names() == (std::set<std::string>{"other.prp", "page.prp"}));
    CHECK_EQ(open_descriptors(), descriptors);
    save_file(scratch / "page.prp", {bytes_of(first), bytes_of(second)});
    CHECK(contents(scratch / "other.prp") == first + second);
    fs::remove(scratch / "page.prp");
    fs::remove(scratch / "other.prp");
  }
}

// Every temporary file is written before the first rename: the check sees
// all of them at its last call before the renames, and none is left when it
// stops the save there.
TEST(save_of_several_files_writes_every_temporary_file_first) {
  const Scratch scratch;
  std::ofstream(scratch / "a.prp") << "old a";
  std::ofstream(scratch / "b.prp") << "old b";
  const std::string a = "new a", b = "new b";
  const std::vector<FileContent> files = {{scratch / "a.prp", {bytes_of(a)}}, {scratch / "b.prp", {bytes_of(b)}}};
  std::size_t most_seen = 0;
  save_files(files, false, [&] { most_seen = std::max(most_seen, scratch.names().size()); });
  CHECK_EQ(most_seen, 4u);
  CHECK(contents(scratch / "a.prp") == a && contents(scratch / "b.prp") == b);
  // The writes ask the check once per file: the second stops before any rename.
  std::ofstream(scratch / "a.prp") << "old a";
  const std::size_t descriptors = open_descriptors();
  CHECK(stops([&] { save_files(files, false, CountingCheck{2}); }));
  CHECK(contents(scratch / "a.prp") == "old a" && contents(scratch / "b.prp") == b);
  CHECK(scratch.names() == (std::set<std::string>{"a.prp", "b.prp"}));
  CHECK_EQ(open_descriptors(), descriptors);
}

// A hard-linked file is refused before anything is written, unless in place.
TEST(save_of_several_files_refuses_a_file_only_writable_in_place) {
  const Scratch scratch;
  std::ofstream(scratch / "a.prp") << "old a";
  std::ofstream(scratch / "b.prp") << "old b";
  fs::create_hard_link(scratch / "b.prp", scratch / "link.prp");
  const std::string a = "new a", b = "new b";
  const std::vector<FileContent> files = {{scratch / "a.prp", {bytes_of(a)}}, {scratch / "b.prp", {bytes_of(b)}}};
  std::string message;
  try {
    save_files(files, false);
  } catch (const Error& e) {
    message = e.message();
  }
  CHECK(message.find("other names (hard links)") != std::string::npos);
  CHECK(contents(scratch / "a.prp") == "old a" && contents(scratch / "b.prp") == "old b");
  CHECK(scratch.names() == (std::set<std::string>{"a.prp", "b.prp", "link.prp"}));
  save_files(files, true);
  CHECK(contents(scratch / "a.prp") == a && contents(scratch / "link.prp") == b);
}

// A target that became a folder after its temporary file was written: the
// files renamed before it are named as replaced, the others as left.
TEST(save_of_several_files_names_the_files_replaced_before_a_failure) {
  const Scratch scratch;
  for (const char* name : {"a.prp", "b.prp", "c.prp"}) std::ofstream(scratch / name) << "old";
  const std::string content = "new";
  const std::vector<FileContent> files = {{scratch / "a.prp", {bytes_of(content)}},
                                          {scratch / "b.prp", {bytes_of(content)}},
                                          {scratch / "c.prp", {bytes_of(content)}}};
  const auto make_folder = [&] {
    if (fs::is_directory(scratch / "b.prp")) return;
    fs::remove(scratch / "b.prp");
    fs::create_directory(scratch / "b.prp");
  };
  std::string message;
  try {
    save_files(files, false, [&, calls = 0]() mutable {
      if (++calls == 3) make_folder();
    });
  } catch (const Error& e) {
    message = e.message();
  }
  CHECK(message.find("(replaced: \"" + (scratch / "a.prp").string() + "\"; left as they were: \"" +
                     (scratch / "b.prp").string() + "\", \"" + (scratch / "c.prp").string() + "\")") !=
        std::string::npos);
  CHECK(contents(scratch / "a.prp") == content && contents(scratch / "c.prp") == "old");
  CHECK(scratch.names() == (std::set<std::string>{"a.prp", "b.prp", "c.prp"}));
}
