// The unit table: the layer lock, opening a file on a unit, closing every file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "textio/connections.hpp"
#include "textio/textio.hpp"

namespace propbf::textio {
namespace detail {
namespace {

// Both are created before main and never destroyed (see layer_lock and unit_table).
std::recursive_mutex* const the_layer_lock = new std::recursive_mutex;
UnitTable* const the_unit_table = new UnitTable;

void close_connection(Connection& c) {
  if (c.owns_fd && c.fd >= 0) ::close(c.fd);
  c.fd = -1;
}

int open_read_only(const std::string& path, int& fd) {
  for (;;) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return 0;
    if (errno != EINTR) return errno;
  }
}

int open_descriptor(const std::string& path, OpenFor use, int& fd) {
  if (use == OpenFor::Reading) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) return open_read_only(path, fd);
  }
  int refusal = 0;
  for (;;) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EACCES && errno != EROFS && errno != EPERM) return errno;
    refusal = errno;
    break;
  }
  const int err = open_read_only(path, fd);
  // A missing file whose creation was refused: the refusal is the reason, not the
  // absence that the read-only attempt reports.
  return err == ENOENT ? refusal : err;
}

}  // namespace

std::recursive_mutex& layer_lock() { return *the_layer_lock; }

UnitTable& unit_table() { return *the_unit_table; }

Connection* UnitTable::find_file(int32_t unit) {
  auto it = files.find(unit);
  return it == files.end() ? nullptr : it->second.get();
}

void reset_unit_table() noexcept {
  std::lock_guard<std::recursive_mutex> hold(layer_lock());
  UnitTable& table = unit_table();
  for (auto& entry : table.files) close_connection(*entry.second);
  table.files.clear();
  table.standard_input.reset();
}

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

}  // namespace detail

void open_unit(int32_t unit, const std::string& path, OpenFor use) {
  using namespace detail;
  std::lock_guard<std::recursive_mutex> hold(layer_lock());
  UnitTable& table = unit_table();
  try {
    if (auto it = table.files.find(unit); it != table.files.end()) {
      int err = flush_block(*it->second);
      close_connection(*it->second);
      table.files.erase(it);
      if (err != 0) system_failure(err, Statement::Write, unit);
    }
    int fd = -1;
    if (int err = open_descriptor(path, use, fd); err != 0) system_failure(err, Statement::Open, unit);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      int err = errno;
      ::close(fd);
      system_failure(err, Statement::Open, unit);
    }
    if (S_ISDIR(info.st_mode)) {
      ::close(fd);
      system_failure(EISDIR, Statement::Open, unit);
    }
    auto connection = std::make_unique<Connection>();
    connection->unit = unit;
    connection->path = path;
    connection->fd = fd;
    connection->regular = S_ISREG(info.st_mode);
    connection->out_buffer.reserve(kBlockSize);
    table.files[unit] = std::move(connection);
  } catch (const std::bad_alloc&) {
    allocation_failure();
  }
}

void close_all_files() noexcept {
  std::lock_guard<std::recursive_mutex> hold(detail::layer_lock());
  detail::flush_and_close_all();
}

}  // namespace propbf::textio
