// Shared plumbing of the fuzz targets: the program's phases run inside the fuzzing
// process, one input after the other, on files held in memory.
//
// input.txt and output.txt are anonymous in-memory files (memfd) made once for the
// process; the program opens them by their /proc/self/fd names, exactly as it opens the
// files of its folder, so no input ever touches a disk. Standard output (the console)
// goes to a third one.
//
// The text layer ends the process through its exit handler; here the handler throws
// RunEnded instead, and run_guarded catches it. Between inputs every piece of state a
// run leaves behind is put back: open files, the error machine's and the generator's
// per-thread records, the library's unit numbers and the error-output lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace propbf::fuzzing {

// How a run ended: normally (0 from end_run), after a library error (1) or with the
// fatal report (-1). `ended` is false when the target returned without ending.
struct Ending {
  bool ended = false;
  int status = 0;
};

// Makes the in-memory files, connects standard output to the console file and installs
// the throwing exit handler. Called once from LLVMFuzzerInitialize.
void set_up_process();

// The names under which the program opens its input and its output file.
const std::string& input_path();
const std::string& output_path();

// Makes `input` the whole content of the input file.
void prepare_input(std::string_view input);

// Runs `body` and catches the end of the run; afterwards every file is closed and all
// per-thread state reset.
Ending run_guarded(void (*body)(void* context), void* context);

// What the output file and the console received since they were last taken; both are
// left empty for the next input.
std::string take_output();
std::string take_console();

// Ends the fuzzing process with a finding when `condition` is false.
void require(bool condition, const char* what);

}  // namespace propbf::fuzzing
