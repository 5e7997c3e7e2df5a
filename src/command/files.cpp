// Output files of the command line: written whole or not at all.
#include "command/files.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>

#include "command/batch.hpp"
#include "messages/messages.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {
namespace {

// The file `path` stands for once its links are followed, as open(2) follows them:
// each link replaced by its target (relative to the link's folder), a dangling link by
// the file it would create. Links inside the folder part are left to the system.
std::string follow_links(const std::string& path) {
  constexpr int kMostLinks = 40;  // as the system allows before ELOOP
  std::filesystem::path current = path;
  for (int links = 0;; ++links) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current.string();
    if (links == kMostLinks) throw WriteError(path + ": cannot write: " + std::strerror(ELOOP));
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(current, error);
    if (error) throw WriteError(path + ": cannot write: " + error.message());
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
}

// Holds back SIGINT, SIGTERM, SIGHUP and SIGQUIT for the length of a scope.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_{};
};

}  // namespace

// Writes `bytes` as the content of the file `name` names, through its links. A regular
// (or missing) file is replaced whole or not at all: the bytes go to a temporary file
// beside it, which is renamed over it (and removed whatever fails). Anything else, a
// device such as /dev/null or a FIFO, is written in place, never replaced.
void write_whole_file(const std::string& name, const std::string& bytes) {
  const std::string path = follow_links(name);
  struct stat info {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    int fd;
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw WriteError(name + ": cannot write: " + std::strerror(errno));
    int failure = write_all(fd, bytes);
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) throw WriteError(name + ": cannot write: " + std::strerror(failure));
    return;
  }
  // While the temporary file exists, an interrupt or termination waits: it takes effect
  // once the file has been renamed or removed, so it never leaves one behind.
  const SignalsHeld held;
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw WriteError(name + ": cannot create a temporary file beside it: " + std::strerror(errno));
  int failure = write_all(fd, bytes);
  // A file replaced keeps its permission bits; a new one gets rw-r--r--.
  const mode_t mode = exists && S_ISREG(info.st_mode) ? (info.st_mode & 07777) : 0644;
  if (failure == 0 && ::fchmod(fd, mode) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(temporary.c_str());
    throw WriteError(name + ": cannot write: " + std::strerror(failure));
  }
}

int report_failure(const std::string& name, std::string_view niter) {
  try {
    throw;
  } catch (const InputError& error) {
    std::cerr << printable_message(error.what()) << "\n";
    return 2;
  } catch (const WriteError& error) {
    std::cerr << printable_message(std::string("propbf: ") + error.what()) << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    std::cerr << printable_message(out_of_memory_message(name, niter)) << "\n";
    return 2;
  }
}

RecordOutput::RecordOutput(int fd) : fd_(fd) {
  struct stat info {};
  regular_ = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  const int flags = ::fcntl(fd, F_GETFL);
  append_ = flags != -1 && (flags & O_APPEND) != 0;
}

int RecordOutput::write(const std::string& record) {
  off_t start = -1;
  if (regular_) {
    struct stat info {};
    start = append_ ? (::fstat(fd_, &info) == 0 ? info.st_size : -1) : ::lseek(fd_, 0, SEEK_CUR);
  }
  const int error = write_all(fd_, record);
  if (error != 0 && start >= 0) {
    int status;
    do {
      status = ::ftruncate(fd_, start);
    } while (status != 0 && errno == EINTR);
    if (!append_) ::lseek(fd_, start, SEEK_SET);
  }
  return error;
}

}  // namespace propbf::evaluate
