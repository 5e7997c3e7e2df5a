// Opening units, the output blocks and the cut of the old content, the end of the run
// and the fatal report with its exact bytes and exit status.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "textio_test_support.hpp"

namespace propbf::textio {
namespace {

using testing::fatal_text;
using testing::read_file;
using testing::run_in_child;
using testing::write_file;

class Files : public testing::ScratchDir {};
using FilesDeathTest = Files;

off_t file_size(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

TEST_F(Files, MissingFileIsCreatedEmpty) {
  const std::string p = path("output.txt");
  open_unit(kOutputFile, p);
  EXPECT_TRUE(std::filesystem::exists(p));
  close_all_files();
  EXPECT_EQ(read_file(p), "");
}

TEST_F(Files, UnwrittenFileKeepsItsContentByteForByte) {
  const std::string p = path("output.txt");
  const std::string old = "old report\r\nsecond line\nno line end \x01\xff";
  write_file(p, old);
  open_unit(kOutputFile, p);
  close_all_files();
  EXPECT_EQ(read_file(p), old);
}

TEST_F(Files, FirstWriteCutsTheOldContent) {
  const std::string p = path("output.txt");
  write_file(p, std::string(20000, 'Z'));
  open_unit(kOutputFile, p);
  write_line(kOutputFile, "x");
  close_all_files();
  EXPECT_EQ(read_file(p), "x\r\n");
}

TEST_F(Files, FullBlocksGoOutAtOnceAndTheFirstOneCuts) {
  const std::string p = path("output.txt");
  write_file(p, std::string(100000, 'Z'));
  open_unit(kOutputFile, p);
  const std::string line = "0123456789";  // 12 bytes with CR LF
  std::string expected;
  for (int i = 0; i < 700; ++i) {  // 8400 bytes: one full block, 208 bytes kept back
    write_line(kOutputFile, line);
    expected += line + "\r\n";
  }
  EXPECT_EQ(file_size(p), 8192);
  EXPECT_EQ(read_file(p), expected.substr(0, 8192));
  for (int i = 0; i < 2000; ++i) {
    write_line(kOutputFile, line);
    expected += line + "\r\n";
  }
  close_all_files();
  EXPECT_EQ(read_file(p), expected);
}

TEST_F(Files, ResetDropsPendingOutputAndEmptiesTheTable) {
  const std::string p = path("output.txt");
  write_file(p, "old\r\n");
  open_unit(kOutputFile, p);
  write_line(kOutputFile, "never written");
  detail::reset_unit_table();
  EXPECT_EQ(detail::unit_table().find_file(kOutputFile), nullptr);
  EXPECT_EQ(read_file(p), "old\r\n");
}

TEST_F(Files, ReopeningAUnitFlushesTheFormerFile) {
  const std::string first = path("first.txt");
  const std::string second = path("second.txt");
  open_unit(kOutputFile, first);
  write_line(kOutputFile, "one");
  open_unit(kOutputFile, second);
  write_line(kOutputFile, "two");
  close_all_files();
  EXPECT_EQ(read_file(first), "one\r\n");
  EXPECT_EQ(read_file(second), "two\r\n");
}

TEST_F(Files, EndRunFlushesAndExitsWithTheStatus) {
  const std::string p = path("output.txt");
  auto outcome = run_in_child(dir_.string(), [&] {
    open_unit(kOutputFile, p);
    write_line(kOutputFile, "report");
    end_run(0);
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(read_file(p), "report\r\n");

  outcome = run_in_child(dir_.string(), [] { end_run(3); });
  EXPECT_EQ(outcome.status, 3);
}

TEST_F(Files, FatalReportFlushesFilesFirst) {
  const std::string p = path("output.txt");
  auto outcome = run_in_child(dir_.string(), [&] {
    open_unit(kOutputFile, p);
    write_line(kOutputFile, "partial");
    fatal_report(kEndOfFile, Statement::Read, kInputFile);
  });
  EXPECT_EQ(outcome.status, 255);
  EXPECT_EQ(read_file(p), "partial\r\n");
}

TEST_F(Files, FatalReportLayouts) {
  struct Row {
    std::string_view message;
    Statement statement;
    int32_t unit;
    bool system;
    std::string expected;
  } rows[] = {
      {kEndOfFile, Statement::Read, 21, false,
       fatal_text("Run-time Error", "Attempt to read past end of file", "READ(UNIT=21,...")},
      {kIllegalCharacter, Statement::Read, 5, false,
       fatal_text("Run-time Error", "Illegal character in numeric input", "READ(UNIT=5,...")},
      {"No space left on device", Statement::Write, kConsole, true,
       fatal_text("System Error:", "No space left on device", "WRITE(UNIT=*,...")},
      {"Is a directory", Statement::Open, 23, true,
       fatal_text("System Error:", "Is a directory", "OPEN(UNIT=23,...")},
      {kAllocationFails, Statement::None, 0, false,
       "? Run-time Error\r\n? Runtime memory allocation fails\r\n"},
  };
  for (const Row& row : rows) {
    auto outcome = run_in_child(dir_.string(), [&] {
      fatal_report(row.message, row.statement, row.unit, row.system);
    });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 255);
    EXPECT_EQ(outcome.err, row.expected);
    EXPECT_EQ(outcome.out, "");
  }
}

TEST_F(FilesDeathTest, DirectoryInPlaceOfTheFile) {
  const std::string p = path("input.txt");
  std::filesystem::create_directory(p);
  EXPECT_EXIT(open_unit(kInputFile, p), ::testing::ExitedWithCode(255),
              "^\\? System Error:\r\n\\? Is a directory\r\n\\? OPEN\\(UNIT=21,\\.\\.\\.\n$");
}

TEST_F(FilesDeathTest, RefusedOpen) {
  // A path through a missing directory: the system's own reason.
  EXPECT_EXIT(open_unit(kOutputFile, path("missing/output.txt")), ::testing::ExitedWithCode(255),
              "^\\? System Error:\r\n\\? No such file or directory\r\n\\? OPEN\\(UNIT=23,");
}

TEST_F(FilesDeathTest, RefusedFileWriteAtTheEnd) {
  EXPECT_EXIT(
      {
        open_unit(kOutputFile, "/dev/full");
        write_line(kOutputFile, "report");
        end_run(0);
      },
      ::testing::ExitedWithCode(255),
      "^\\? System Error:\r\n\\? No space left on device\r\n\\? WRITE\\(UNIT=23,\\.\\.\\.\n$");
}

TEST_F(FilesDeathTest, RefusedFileWriteOfAFullBlock) {
  EXPECT_EXIT(
      {
        open_unit(kOutputFile, "/dev/full");
        for (int i = 0; i < 1000; ++i) write_line(kOutputFile, "0123456789");
        std::_Exit(0);  // not reached: the block of 8192 bytes is refused
      },
      ::testing::ExitedWithCode(255), "No space left on device\r\n\\? WRITE\\(UNIT=23,");
}

TEST_F(Files, RefusedConsoleWrite) {
  for (int32_t unit : {kConsole, kStandardOutput, 42}) {
    auto outcome = run_in_child(dir_.string(), [&] {
      ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
      write_line(unit, "progress");
    });
    const std::string unit_text = unit == kConsole ? "*" : std::to_string(unit);
    EXPECT_EQ(outcome.status, 255);
    EXPECT_EQ(outcome.err, fatal_text("System Error:", "No space left on device",
                                      "WRITE(UNIT=" + unit_text + ",..."));
  }
}

TEST_F(Files, ReadingAUnitThatIsNotConnected) {
  auto outcome = run_in_child(dir_.string(), [] { ReadStep step(30); });
  EXPECT_EQ(outcome.status, 255);
  EXPECT_EQ(outcome.err, fatal_text("System Error:", "Bad file descriptor", "READ(UNIT=30,..."));
}

TEST_F(Files, MissingInputIsCreatedAndEndsWithEndOfFile) {
  const std::string input = path("input.txt");
  const std::string output = path("output.txt");
  write_file(output, "previous report\r\n");
  auto outcome = run_in_child(dir_.string(), [&] {
    open_unit(kInputFile, input);
    open_unit(kOutputFile, output);
    ReadStep heading(kInputFile);
  });
  EXPECT_EQ(outcome.status, 255);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err,
            fatal_text("Run-time Error", "Attempt to read past end of file", "READ(UNIT=21,..."));
  EXPECT_TRUE(std::filesystem::exists(input));
  EXPECT_EQ(read_file(input), "");
  EXPECT_EQ(read_file(output), "previous report\r\n");
}

TEST_F(Files, RecordsUpToTheLimitAreKeptLongerOnesEndTheRun) {
  // 2^23 tabs are exactly kRecordLimit columns: read whole.
  const std::string p = path("input.txt");
  write_file(p, std::string(kRecordLimit / 8, '\t') + "\r\nnext\n");
  open_unit(kInputFile, p);
  std::string record;
  ASSERT_TRUE(detail::read_record(kInputFile, record));
  EXPECT_EQ(record.size(), kRecordLimit);
  EXPECT_EQ(record.find_first_not_of(' '), std::string::npos);
  EXPECT_LE(record.capacity(), kRecordLimit);
  ASSERT_TRUE(detail::read_record(kInputFile, record));
  EXPECT_EQ(record, "next");
  // /dev/zero is one record without end: kept or passed over, it ends at the limit.
  for (const bool keep : {true, false}) {
    auto outcome = run_in_child(dir_.string(), [keep] {
      open_unit(kInputFile, "/dev/zero");
      if (keep) {
        ReadStep step(kInputFile);
      } else {
        skip_record(kInputFile);
      }
    });
    EXPECT_EQ(outcome.status, 255) << keep;
    EXPECT_EQ(outcome.err, "? Run-time Error\r\n? Runtime memory allocation fails\r\n") << keep;
  }
}

}  // namespace
}  // namespace propbf::textio
