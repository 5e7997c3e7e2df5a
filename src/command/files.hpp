// Output files of the command line: the JSON document, a plan's parts and summary.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace propbf::evaluate {

// A file that could not be written (exit status 1).
struct WriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Writes `bytes` as the content of the file `name` names, through its links. A regular
// (or missing) file is replaced whole or not at all: the bytes go to a temporary file
// beside it, which is renamed over it (and removed whatever fails). Anything else, a
// device such as /dev/null or a FIFO, is written in place, never replaced. Throws
// WriteError.
void write_whole_file(const std::string& name, const std::string& bytes);

// Called inside a catch block: shows the failure being handled on standard error and
// returns its exit status, 2 for an InputError or memory running out (the message of
// out_of_memory_message(name, niter)), 1 for a WriteError. Anything else is rethrown.
int report_failure(const std::string& name, std::string_view niter = "--niter");

// Where records go: a descriptor written one whole record at a time. In a regular file
// a record cut short (disk full, the file-size limit) is cut off again, so that the file
// ends with the last whole record.
class RecordOutput {
 public:
  explicit RecordOutput(int fd);

  // Whether a record cut short is taken back.
  bool regular() const { return regular_; }

  // Writes `record`; returns 0 or the errno of the failed write.
  int write(const std::string& record);

 private:
  int fd_;
  bool regular_ = false;
  bool append_ = false;
};

}  // namespace propbf::evaluate
