// Faults injected from outside with strace, and what the tool asks of the
// system, read off its system calls.

#include <fcntl.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/file_cases.h"
#include "tests/support.h"

namespace test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kMislabelled = MislabelledTag();
const std::string kRepaired = RepairedTag();

class WithStrace : public testing::Test {
 protected:
  void SetUp() override {
    if (!HaveCommand("strace")) GTEST_SKIP() << "strace is not installed";
  }
  TempDir dir_;
  fs::path file_ = dir_ / "song.mp3";
};

struct Fault {
  std::string name;
  std::string injection;  // strace's -e inject=...
  // The report expected, or "" for none and exit status 0.
  std::string failure_class;
  std::string message_format;  // %s: the path
  bool file_repaired;
};

// Test names carry the case; gtest need not print its bytes.
inline void PrintTo(const Fault& value, std::ostream* out) { *out << value.name; }

std::vector<Fault> Faults() {
  return {
      {"open_read_only_medium", "openat:error=EROFS", "EFOpenError", "ファイル %s は開けません", false},
      {"open_text_busy", "openat:error=ETXTBSY", "EFOpenError", "ファイル %s は開けません", false},
      {"fstat_fails", "%fstat:error=EIO", "EFOpenError", "ファイル %s は開けません", false},
      {"lease_refused_file_open_elsewhere", "fcntl:error=EAGAIN", "EFOpenError",
       "ファイル %s は開けません", false},
      {"lease_unsupported", "fcntl:error=EINVAL", "", "", true},
      {"lease_not_permitted", "fcntl:error=EACCES", "", "", true},
      {"lock_held_elsewhere", "flock:error=EAGAIN", "EFOpenError", "ファイル %s は開けません",
       false},
      {"lock_unsupported", "flock:error=ENOLCK", "", "", true},
      {"read_fails", "pread64:error=EIO", "EReadError", "ファイル %s を読み込めません", false},
      {"write_fails", "pwrite64:error=EIO", "EWriteError", "ファイル %s に書き込めません", false},
      {"write_finds_no_space", "pwrite64:error=ENOSPC", "EWriteError", "ファイル %s に書き込めません",
       false},
      {"write_is_short", "pwrite64:retval=2", "EWriteError", "ファイル %s に書き込めません", false},
      // The write itself went through: what the report says is that it may not last.
      {"close_fails", "close:error=EIO", "EWriteError", "ファイル %s に書き込めません", true},
  };
}

class FaultTest : public WithStrace, public testing::WithParamInterface<Fault> {};

TEST_P(FaultTest, IsReportedAndLeavesTheFileWhole) {
  const Fault& fault = GetParam();
  WriteFile(file_, kMislabelled);

  const RunResult run = RunToolUnderStrace({"-e", "inject=" + fault.injection}, {file_});

  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.out, "");
  if (fault.failure_class.empty()) {
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
  } else {
    const auto at = fault.message_format.find("%s");
    const std::string message = std::string(fault.message_format).replace(at, 2, file_.string());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(WithCodeAddressMasked(run.err), ExpectedReport(fault.failure_class, message));
  }
  EXPECT_EQ(ReadFile(file_), fault.file_repaired ? kRepaired : kMislabelled);
}

INSTANTIATE_TEST_SUITE_P(Injected, FaultTest, testing::ValuesIn(Faults()),
                         [](const auto& case_info) { return case_info.param.name; });

// Started with standard error closed, the file takes descriptor 2 unless
// the tool moves it; a report would then be written into the file.
TEST_F(WithStrace, AReportNeverLandsInTheFileWhenStandardErrorIsClosed) {
  WriteFile(file_, kMislabelled);
  const RunResult run =
      RunCommand({"sh", "-c", "exec strace -qq -o /dev/null -e inject=pread64:error=EIO \"$0\" \"$1\" 2>&-",
           ToolPath(), file_});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(ReadFile(file_), kMislabelled);
}

// ---------------------------------------------------------------------------
// What the tool asks of the system.

struct Call {
  std::string name;
  std::string arguments;
  std::string result;
};

// The calls of one run, from strace's log.
std::vector<Call> TraceCalls(const fs::path& target) {
  TempDir log_dir;
  const fs::path log = log_dir / "trace";
  const RunResult run =
      RunCommand({"strace", "-qq", "-X", "raw", "-e", "signal=none", "-o", log, ToolPath(), target});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::istringstream lines(ReadFile(log));
  static const std::regex kCall(R"(^(\w+)\((.*)\)\s+= (\S+).*$)");
  std::vector<Call> calls;
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_match(line, match, kCall)) calls.push_back({match[1], match[2], match[3]});
  }
  return calls;
}

// The calls on the target, its path shown as PATH and its descriptor as FD:
// every call that names the path, and every call on the descriptor that
// the open of the path returned.
std::vector<std::string> CallsOnTarget(const std::vector<Call>& calls, const fs::path& target) {
  std::vector<std::string> on_target;
  std::string fd;
  const std::string quoted_path = "\"" + target.string() + "\"";
  for (const Call& call : calls) {
    if (call.arguments.find(quoted_path) != std::string::npos) {
      on_target.push_back(call.name + "(PATH) = " + (call.name == "openat" ? "FD" : call.result));
      if (call.name == "openat") fd = call.result;
    } else if (!fd.empty() && call.arguments.rfind(fd + ",", 0) == 0) {
      on_target.push_back(call.name + "(FD" + call.arguments.substr(fd.size()) + ") = " + call.result);
    } else if (!fd.empty() && call.arguments == fd) {
      on_target.push_back(call.name + "(FD) = " + call.result);
    }
  }
  return on_target;
}

TEST_F(WithStrace, TouchesTheFileOnlyToReadAndWriteItsFourBytes) {
  WriteFile(file_, kMislabelled);
  const std::vector<std::string> on_target = CallsOnTarget(TraceCalls(file_), file_);
  const std::vector<std::string> expected{
      "openat(PATH) = FD",
      "newfstatat(FD, \"\", {st_mode=0100644, st_size=" + std::to_string(kMislabelled.size()) +
          ", ...}, 0x1000) = 0",
      "fcntl(FD, 0x400, 0x1) = 0",  // F_SETLEASE, F_WRLCK
      "flock(FD, 0x6) = 0",         // LOCK_EX | LOCK_NB
      "pread64(FD, \"ID3\\4\", 4, 0) = 4",
      "pwrite64(FD, \"ID3\\3\", 4, 0) = 4",
      "close(FD) = 0",
  };
  EXPECT_EQ(on_target, expected);
  EXPECT_EQ(ReadFile(file_), kRepaired);
}

// The same calls for a file of gigabytes as for one of four bytes: nothing
// is read, mapped or copied past the header.
TEST_F(WithStrace, AHugeSparseFileTakesTheSameCallsAsATinyOne) {
  const fs::path tiny = dir_ / "tiny.mp3";
  const fs::path huge = dir_ / "huge.mp3";
  WriteFile(tiny, "ID3\x04"s);
  WriteFile(huge, "ID3\x04"s);
  fs::resize_file(huge, std::uintmax_t{5} << 30);

  const auto names = [](const std::vector<Call>& calls) {
    std::vector<std::string> result;
    for (const Call& call : calls) result.push_back(call.name);
    return result;
  };
  const std::vector<Call> tiny_calls = TraceCalls(tiny);
  const std::vector<Call> huge_calls = TraceCalls(huge);
  EXPECT_EQ(names(huge_calls), names(tiny_calls));

  auto tiny_on_target = CallsOnTarget(tiny_calls, tiny);
  auto huge_on_target = CallsOnTarget(huge_calls, huge);
  ASSERT_EQ(huge_on_target.size(), tiny_on_target.size());
  static const std::regex kSize("st_size=\\d+");
  for (auto& call : tiny_on_target) call = std::regex_replace(call, kSize, "st_size=N");
  for (auto& call : huge_on_target) call = std::regex_replace(call, kSize, "st_size=N");
  EXPECT_EQ(huge_on_target, tiny_on_target);
  EXPECT_EQ(fs::file_size(huge), std::uintmax_t{5} << 30);
  EXPECT_EQ(ReadFile(tiny), "ID3\x03"s);
}

}  // namespace
}  // namespace test
