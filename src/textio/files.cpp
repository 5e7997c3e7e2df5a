// Units, files and the end of the run.
//
// Files are held on raw descriptors. An output file collects its lines in a block of
// kBlockSize bytes; a full block is written out. The first block goes to offset 0 and
// the file is cut at the end of that block, so a file that never receives a block keeps
// its old content byte for byte, and a run that writes leaves exactly what it wrote.
// Later blocks follow the earlier ones.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "textio/connections.hpp"
#include "textio/textio.hpp"

namespace propbf::textio {
namespace {

using detail::kBlockSize;

struct Connection {
  int32_t unit = 0;
  std::string path;
  int fd = -1;
  bool owns_fd = true;  // false for standard input
  bool regular = false;

  // Input side.
  std::vector<char> in_buffer;  // kBlockSize bytes once the first read happens
  std::size_t in_pos = 0;
  std::size_t in_len = 0;
  bool in_exhausted = false;

  // Output side.
  std::string out_buffer;  // at most kBlockSize bytes
  bool block_written = false;
  off_t out_offset = 0;  // where the next block goes in a regular file
};

// The unit table lives for the whole process. It is created on first use and never
// destroyed, so statements that run during static destruction (or a fatal report that
// ends the process from inside a statement) still find it.
struct UnitTable {
  std::map<int32_t, std::unique_ptr<Connection>> files;
  std::unique_ptr<Connection> standard_input;
};

UnitTable& unit_table() {
  static UnitTable* const table = new UnitTable;
  return *table;
}

Connection* find_file(int32_t unit) {
  auto& files = unit_table().files;
  auto it = files.find(unit);
  return it == files.end() ? nullptr : it->second.get();
}

// Writes all n bytes, retrying after interruptions and partial writes. With `offset`
// the bytes go to that position (pwrite) and *offset advances. Returns 0 or an errno.
int write_all(int fd, const char* data, std::size_t n, off_t* offset) {
  while (n > 0) {
    ssize_t done = offset != nullptr ? ::pwrite(fd, data, n, *offset) : ::write(fd, data, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (done == 0) return EIO;  // no progress: never loop for ever
    data += done;
    n -= static_cast<std::size_t>(done);
    if (offset != nullptr) *offset += done;
  }
  return 0;
}

// Writes the pending block of an output file. Returns 0 or an errno; the block is
// dropped either way, so a failed block is never tried a second time.
int flush_block(Connection& c) {
  if (c.out_buffer.empty()) return 0;
  const std::string& block = c.out_buffer;
  int err = 0;
  if (c.regular) {
    if (!c.block_written) c.out_offset = 0;
    err = write_all(c.fd, block.data(), block.size(), &c.out_offset);
    if (err == 0 && !c.block_written) {
      while (::ftruncate(c.fd, c.out_offset) != 0) {
        if (errno != EINTR) {
          err = errno;
          break;
        }
      }
    }
  } else {
    err = write_all(c.fd, block.data(), block.size(), nullptr);
  }
  c.block_written = true;
  c.out_buffer.clear();  // keeps its capacity
  return err;
}

void close_connection(Connection& c) {
  if (c.owns_fd && c.fd >= 0) ::close(c.fd);
  c.fd = -1;
}

// Flushes and closes every file; the first refused write is returned as
// {unit, errno} with errno 0 when all went well.
std::pair<int32_t, int> flush_and_close_all() noexcept {
  std::pair<int32_t, int> first_failure{0, 0};
  UnitTable& table = unit_table();
  for (auto& [unit, connection] : table.files) {
    int err = flush_block(*connection);
    if (err != 0 && first_failure.second == 0) first_failure = {unit, err};
    close_connection(*connection);
  }
  table.files.clear();
  table.standard_input.reset();
  return first_failure;
}

std::string_view statement_name(Statement statement) {
  switch (statement) {
    case Statement::Read: return "READ";
    case Statement::Write: return "WRITE";
    case Statement::Open: return "OPEN";
    case Statement::None: break;
  }
  return {};
}

int open_descriptor(const std::string& path, int& fd) {
  int refusal = 0;
  for (;;) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EACCES && errno != EROFS && errno != EPERM) return errno;
    refusal = errno;
    break;
  }
  for (;;) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return 0;
    if (errno == EINTR) continue;
    // A missing file whose creation was refused: the refusal is the reason, not the
    // absence that the read-only attempt reports.
    return errno == ENOENT ? refusal : errno;
  }
}

// Fills the input block of `c`. Returns false when the file is exhausted.
bool refill(Connection& c, int32_t unit) {
  if (c.in_exhausted) return false;
  if (c.in_buffer.size() != kBlockSize) c.in_buffer.assign(kBlockSize, 0);
  for (;;) {
    ssize_t got = ::read(c.fd, c.in_buffer.data(), kBlockSize);
    if (got < 0) {
      if (errno == EINTR) continue;
      detail::system_failure(errno, Statement::Read, unit);
    }
    c.in_pos = 0;
    c.in_len = static_cast<std::size_t>(got);
    if (got == 0) c.in_exhausted = true;
    return got > 0;
  }
}

Connection& input_connection(int32_t unit) {
  if (Connection* c = find_file(unit)) return *c;
  UnitTable& table = unit_table();
  if (unit == kStandardInput) {
    if (!table.standard_input) {
      table.standard_input = std::make_unique<Connection>();
      table.standard_input->unit = unit;
      table.standard_input->fd = STDIN_FILENO;
      table.standard_input->owns_fd = false;
    }
    return *table.standard_input;
  }
  detail::system_failure(EBADF, Statement::Read, unit);
}

std::atomic<ExitHandler> exit_handler{nullptr};

[[noreturn]] void exit_process(int status) {
  if (ExitHandler handler = exit_handler.load()) handler(status);
  std::exit(status);
}

}  // namespace

namespace detail {

std::recursive_mutex& layer_lock() {
  // Never destroyed: the process may end (std::exit) while a statement holds it.
  static std::recursive_mutex* const lock = new std::recursive_mutex;
  return *lock;
}

void system_failure(int error_number, Statement statement, int32_t unit) {
  fatal_report(std::strerror(error_number), statement, unit, true);
}

void allocation_failure() { fatal_report(kAllocationFails, Statement::None, 0); }

bool read_record(int32_t unit, std::string& record) {
  std::lock_guard<std::recursive_mutex> hold(layer_lock());
  Connection& c = input_connection(unit);
  record.clear();
  bool any_byte = false;
  try {
    for (;;) {
      if (c.in_pos == c.in_len && !refill(c, unit)) return any_byte;
      any_byte = true;
      const char* begin = c.in_buffer.data() + c.in_pos;
      const char* end = c.in_buffer.data() + c.in_len;
      const void* lf = std::memchr(begin, '\n', static_cast<std::size_t>(end - begin));
      const char* stop = lf != nullptr ? static_cast<const char*>(lf) : end;
      for (const char* p = begin; p != stop; ++p) {
        if (*p == '\r') continue;
        if (*p == '\t') {
          // Blanks up to the next column that is a multiple of 8 (columns from 0).
          record.append(8 - record.size() % 8, ' ');
        } else {
          record.push_back(*p);
        }
      }
      c.in_pos = static_cast<std::size_t>(stop - c.in_buffer.data());
      if (lf != nullptr) {
        ++c.in_pos;  // the line feed ends the record
        return true;
      }
    }
  } catch (const std::bad_alloc&) {
    allocation_failure();
  } catch (const std::length_error&) {
    allocation_failure();
  }
}

void emit_line(int32_t unit, std::string_view line) {
  std::lock_guard<std::recursive_mutex> hold(layer_lock());
  if (Connection* c = find_file(unit)) {
    while (!line.empty()) {
      std::size_t room = kBlockSize - c->out_buffer.size();
      std::size_t part = line.size() < room ? line.size() : room;
      c->out_buffer.append(line.data(), part);
      line.remove_prefix(part);
      if (c->out_buffer.size() == kBlockSize) {
        if (int err = flush_block(*c); err != 0) system_failure(err, Statement::Write, unit);
      }
    }
    return;
  }
  if (int err = write_all(STDOUT_FILENO, line.data(), line.size(), nullptr); err != 0) {
    system_failure(err, Statement::Write, unit);
  }
}

}  // namespace detail

void open_unit(int32_t unit, const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(detail::layer_lock());
  UnitTable& table = unit_table();
  try {
    if (auto it = table.files.find(unit); it != table.files.end()) {
      int err = flush_block(*it->second);
      close_connection(*it->second);
      table.files.erase(it);
      if (err != 0) detail::system_failure(err, Statement::Write, unit);
    }
    int fd = -1;
    if (int err = open_descriptor(path, fd); err != 0) detail::system_failure(err, Statement::Open, unit);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      int err = errno;
      ::close(fd);
      detail::system_failure(err, Statement::Open, unit);
    }
    if (S_ISDIR(info.st_mode)) {
      ::close(fd);
      detail::system_failure(EISDIR, Statement::Open, unit);
    }
    auto connection = std::make_unique<Connection>();
    connection->unit = unit;
    connection->path = path;
    connection->fd = fd;
    connection->regular = S_ISREG(info.st_mode);
    connection->out_buffer.reserve(kBlockSize);
    table.files[unit] = std::move(connection);
  } catch (const std::bad_alloc&) {
    detail::allocation_failure();
  }
}

void close_all_files() noexcept {
  std::lock_guard<std::recursive_mutex> hold(detail::layer_lock());
  flush_and_close_all();
}

void end_run(int status) {
  std::unique_lock<std::recursive_mutex> hold(detail::layer_lock());
  auto [unit, err] = flush_and_close_all();
  if (err != 0) detail::system_failure(err, Statement::Write, unit);
  exit_process(status);
}

void set_exit_handler(ExitHandler handler) noexcept { exit_handler.store(handler); }

void fatal_report(std::string_view message, Statement statement, int32_t unit, bool system_error) {
  std::lock_guard<std::recursive_mutex> hold(detail::layer_lock());
  flush_and_close_all();
  // Built in a fixed buffer: this report must not depend on obtaining storage.
  char text[1024];
  std::size_t n = 0;
  auto put = [&](std::string_view s) {
    for (char ch : s) {
      if (n < sizeof text) text[n++] = ch;
    }
  };
  const std::string_view banner = system_error ? "System Error:" : "Run-time Error";
  put("? ");
  put(banner);
  put("\r\n? ");
  put(message.substr(0, 900));
  put("\r\n");
  if (statement != Statement::None) {
    char number[16];
    std::size_t len = 0;
    if (unit == kConsole) {
      number[len++] = '*';
    } else {
      int64_t v = unit;
      bool negative = v < 0;
      if (negative) v = -v;
      char digits[16];
      std::size_t k = 0;
      do {
        digits[k++] = static_cast<char>('0' + v % 10);
        v /= 10;
      } while (v != 0);
      if (negative) number[len++] = '-';
      while (k > 0) number[len++] = digits[--k];
    }
    put("? ");
    put(statement_name(statement));
    put("(UNIT=");
    put(std::string_view(number, len));
    put(",...\n");
  }
  write_all(STDERR_FILENO, text, n, nullptr);
  exit_process(-1);
}

}  // namespace propbf::textio
