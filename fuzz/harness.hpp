// Shared plumbing of the fuzz targets: the program's phases run inside the fuzzing
// process, one input after the other, in a private working folder.
//
// The text layer ends the process through its exit handler; here the handler throws
// RunEnded instead, and run_guarded catches it. Between inputs every piece of state a
// run leaves behind is put back: open files, the error machine's and the generator's
// per-thread records, the library's unit numbers and the error-output lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace propbf::fuzzing {

// How a run ended: normally (0 from end_run), after a library error (1) or with the
// fatal report (-1). `ended` is false when the target returned without ending.
struct Ending {
  bool ended = false;
  int status = 0;
};

// Makes a private working folder, sends standard output to /dev/null and installs the
// throwing exit handler. Called once from LLVMFuzzerInitialize.
void set_up_process();

// Writes `bytes` as input.txt in the working folder and removes output.txt.
void prepare_files(const std::string& input);

// Runs `body` in the working folder and catches the end of the run; afterwards every
// file is closed, all per-thread state reset and the process back in its own folder.
Ending run_guarded(void (*body)(void* context), void* context);

// Reads output.txt back ("" when absent).
std::string read_output();

// Ends the fuzzing process with a finding when `condition` is false.
void require(bool condition, const char* what);

}  // namespace propbf::fuzzing
