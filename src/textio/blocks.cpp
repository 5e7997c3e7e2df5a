// Block input and output on raw descriptors.
//
// An output file collects its lines in a block of kBlockSize bytes; a full block is
// written out. The first block goes to offset 0 and the file is cut at the end of that
// block, so a file that never receives a block keeps its old content byte for byte,
// and a run that writes leaves exactly what it wrote. Later blocks follow the earlier
// ones. An input file is read kBlockSize bytes at a time and split into records.
//
// Before the first block of a regular file is written, its room is made sure of: a
// block larger than the file-size limit (ulimit -f) is refused with EFBIG, and the
// space for it is reserved, so that neither the limit nor a full disk can cut the first
// write short and leave the old content partly overwritten.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "textio/connections.hpp"
#include "textio/textio.hpp"

namespace propbf::textio::detail {
namespace {

// Fills the input block of `c`. Returns false when the file is exhausted.
bool refill(Connection& c, int32_t unit) {
  if (c.in_exhausted) return false;
  if (c.in_buffer.size() != kBlockSize) c.in_buffer.assign(kBlockSize, 0);
  for (;;) {
    ssize_t got = ::read(c.fd, c.in_buffer.data(), kBlockSize);
    if (got < 0) {
      if (errno == EINTR) continue;
      system_failure(errno, Statement::Read, unit);
    }
    c.in_pos = 0;
    c.in_len = static_cast<std::size_t>(got);
    if (got == 0) c.in_exhausted = true;
    return got > 0;
  }
}

Connection& input_connection(int32_t unit) {
  UnitTable& table = unit_table();
  if (Connection* c = table.find_file(unit)) return *c;
  if (unit == kStandardInput) {
    if (!table.standard_input) {
      table.standard_input = std::make_unique<Connection>();
      table.standard_input->unit = unit;
      table.standard_input->fd = STDIN_FILENO;
      table.standard_input->owns_fd = false;
    }
    return *table.standard_input;
  }
  system_failure(EBADF, Statement::Read, unit);
}

}  // namespace

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

namespace {

// Whether the first `size` bytes of the regular file `fd` can be written whole: 0, or
// EFBIG when they pass the file-size limit, or the errno of reserving them (ENOSPC on a
// full disk). A file system that cannot reserve space is not refused for that.
int room_for_first_block(int fd, std::size_t size) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && size > limit.rlim_cur) {
    return EFBIG;
  }
  int err;
  do {
    err = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0 ? 0 : errno;
  } while (err == EINTR);
  return err == ENOSPC || err == EFBIG || err == EDQUOT ? err : 0;
}

}  // namespace

int flush_block(Connection& c) {
  if (c.out_buffer.empty()) return 0;
  const std::string& block = c.out_buffer;
  int err = 0;
  if (c.regular) {
    if (!c.block_written) {
      c.out_offset = 0;
      err = room_for_first_block(c.fd, block.size());
    }
    if (err == 0) err = write_all(c.fd, block.data(), block.size(), &c.out_offset);
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

namespace {

// Room for `needed` bytes in `record` (needed <= kRecordLimit). The capacity grows
// through powers of two, so it doubles as a string's does and its last step lands on
// kRecordLimit itself instead of doubling past it.
static_assert(std::has_single_bit(kRecordLimit));
void make_room(std::string& record, std::size_t needed) {
  if (needed <= record.capacity()) return;
  record.reserve(std::bit_ceil(std::max<std::size_t>(needed, 64)));
}

// Scans the next record of `unit`, keeping its text in *keep when keep is not null.
// Its length is counted either way, so a record longer than kRecordLimit ends the run
// with the allocation report even when nothing of it is kept.
bool scan_record(int32_t unit, std::string* keep) {
  std::lock_guard<std::recursive_mutex> hold(layer_lock());
  Connection& c = input_connection(unit);
  if (keep != nullptr) keep->clear();
  std::size_t length = 0;  // columns so far, after tab expansion
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
        // A tab is blanks up to the next column that is a multiple of 8 (columns from 0).
        const std::size_t columns = *p == '\t' ? 8 - length % 8 : 1;
        if (columns > kRecordLimit - length) allocation_failure();
        if (keep != nullptr) {
          make_room(*keep, length + columns);
          if (*p == '\t') {
            keep->append(columns, ' ');
          } else {
            keep->push_back(*p);
          }
        }
        length += columns;
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

}  // namespace

bool read_record(int32_t unit, std::string& record) { return scan_record(unit, &record); }

bool pass_record(int32_t unit) { return scan_record(unit, nullptr); }

void emit_line(int32_t unit, std::string_view line) {
  std::lock_guard<std::recursive_mutex> hold(layer_lock());
  if (Connection* c = unit_table().find_file(unit)) {
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

}  // namespace propbf::textio::detail
