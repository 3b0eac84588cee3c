// Faults injected from outside with strace, and what the tool asks of the
// system, read off its system calls.

#include <fcntl.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/file_cases.h"
#include "tests/support.h"

namespace test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kMislabelled = MislabelledTag();
const std::string kRepaired = RepairedTag();

struct Call {
  std::string name;
  std::string arguments;
  std::string result;
};

// The calls of one run of the tool on `target`, from strace's log, with
// constants shown raw.
std::vector<Call> TraceCalls(const fs::path& target) {
  TempDir log_dir;
  const fs::path log = log_dir / "trace";
  const RunResult run = RunCommand(
      {"strace", "-qq", "-X", "raw", "-e", "signal=none", "-o", log, ToolPath(), target});
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

std::size_t OpenOfTarget(const std::vector<Call>& calls, const fs::path& target) {
  const std::string quoted_path = std::string(1, '"').append(target.string()).append(1, '"');
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].name == "openat" && calls[i].arguments.find(quoted_path) != std::string::npos) {
      return i;
    }
  }
  ADD_FAILURE() << "the tool never opened " << target;
  return calls.size();
}

// Whether `call` is one on descriptor `fd` (its first argument).
bool OnDescriptor(const Call& call, const std::string& fd) {
  return call.arguments == fd || call.arguments.rfind(fd + ",", 0) == 0;
}

// strace's -e inject for `fault` (e.g. "error=EIO") on the tool's own
// `syscall` on its file: the open itself, or the first such call on the
// descriptor the open returned. Aimed there, not at the first such call of
// the process: a dynamic loader, or a sanitizer's run-time, makes calls of
// its own before and between the program's.
std::string InjectionOnTarget(const std::string& syscall, const std::string& fault) {
  TempDir probe_dir;
  const fs::path probe = probe_dir / "probe.mp3";
  WriteFile(probe, kMislabelled);
  const std::vector<Call> calls = TraceCalls(probe);
  const std::size_t open = OpenOfTarget(calls, probe);
  std::size_t earlier = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].name != syscall) continue;
    if (i == open ||
        (i > open && open < calls.size() && OnDescriptor(calls[i], calls[open].result))) {
      break;
    }
    ++earlier;
  }
  return "inject=" + syscall + ":" + fault + ":when=" + std::to_string(earlier + 1);
}

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
  std::string syscall;
  std::string fault;
  // The report expected, or "" for none and exit status 0.
  std::string failure_class;
  std::string message_format;  // %s: the path
  bool file_repaired;
};

inline void PrintTo(const Fault& value, std::ostream* out) { *out << value.name; }

std::vector<Fault> Faults() {
  const std::string open_failure = "ファイル %s は開けません";
  const std::string write_failure = "ファイル %s に書き込めません";
  return {
      {"open_read_only_medium", "openat", "error=EROFS", "EFOpenError", open_failure, false},
      {"open_text_busy", "openat", "error=ETXTBSY", "EFOpenError", open_failure, false},
      {"fstat_fails", "newfstatat", "error=EIO", "EFOpenError", open_failure, false},
      {"lease_refused_file_open_elsewhere", "fcntl", "error=EAGAIN", "EFOpenError", open_failure,
       false},
      {"lease_unsupported", "fcntl", "error=EINVAL", "", "", true},
      {"lease_not_permitted", "fcntl", "error=EACCES", "", "", true},
      {"lock_held_elsewhere", "flock", "error=EAGAIN", "EFOpenError", open_failure, false},
      {"lock_unsupported", "flock", "error=ENOLCK", "", "", true},
      {"read_fails", "pread64", "error=EIO", "EReadError", "ファイル %s を読み込めません", false},
      {"write_fails", "pwrite64", "error=EIO", "EWriteError", write_failure, false},
      {"write_finds_no_space", "pwrite64", "error=ENOSPC", "EWriteError", write_failure, false},
      {"write_is_short", "pwrite64", "retval=2", "EWriteError", write_failure, false},
      // The write itself went through: what the report says is that it may not last.
      {"close_fails", "close", "error=EIO", "EWriteError", write_failure, true},
  };
}

class FaultTest : public WithStrace, public testing::WithParamInterface<Fault> {};

TEST_P(FaultTest, IsReportedAndLeavesTheFileWhole) {
  const Fault& fault = GetParam();
  WriteFile(file_, kMislabelled);

  const RunResult run =
      RunToolUnderStrace({"-e", InjectionOnTarget(fault.syscall, fault.fault)}, {file_});

  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.out, "");
  if (fault.failure_class.empty()) {
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
  } else {
    const std::string_view format = fault.message_format;
    const auto at = format.find("%s");
    const std::string message =
        std::string(format.substr(0, at)) + file_.string() + std::string(format.substr(at + 2));
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(WithCodeAddressMasked(run.err), ExpectedReport(fault.failure_class, message));
  }
  EXPECT_EQ(ReadFile(file_), fault.file_repaired ? kRepaired : kMislabelled);
}

INSTANTIATE_TEST_SUITE_P(Injected, FaultTest, testing::ValuesIn(Faults()),
                         [](const auto& case_info) { return case_info.param.name; });

// Started with standard error closed, the file takes descriptor 2, where
// the report goes: the file must be closed before anything is reported.
TEST_F(WithStrace, AReportNeverLandsInTheFileWhenStandardErrorIsClosed) {
  WriteFile(file_, kMislabelled);
  const RunResult run =
      RunCommand({"sh", "-c", "exec strace -qq -o /dev/null -e \"$0\" \"$1\" \"$2\" 2>&-",
                  InjectionOnTarget("pread64", "error=EIO"), ToolPath(), file_});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(ReadFile(file_), kMislabelled);
}

// The report's code address is the raise site's offset in the executable:
// it must lead back to the code that found the failure.
std::string FunctionAt(const std::string& report) {
  static const std::regex kAddress(" の ([0-9A-F]{8}) で発生しました。");
  std::smatch match;
  if (!std::regex_search(report, match, kAddress)) return "no address in: " + report;
  const RunResult symbols = RunCommand({"nm", ToolPath()});
  static const std::regex kStart("([0-9a-f]+) \\w __executable_start\\n");
  std::smatch start;
  if (!std::regex_search(symbols.out, start, kStart)) return "no __executable_start";
  // A return address: the call before it may be the function's last instruction.
  const auto address = std::stoull(start[1], nullptr, 16) + std::stoull(match[1], nullptr, 16) - 1;
  std::ostringstream hex;
  hex << std::hex << "0x" << address;
  return RunCommand({"addr2line", "-f", "-i", "-C", "-e", ToolPath(), hex.str()}).out;
}

TEST_F(WithStrace, TheCodeAddressLeadsToTheRaiseSite) {
  if (!HaveCommand("addr2line") || !HaveCommand("nm")) GTEST_SKIP() << "needs binutils";
  WriteFile(file_, kMislabelled);
  // Without debug information the open's helper shows as the constructor it is inlined in.
  EXPECT_THAT(FunctionAt(RunTool({dir_ / "missing.mp3"}).err),
              testing::ContainsRegex("OpenExclusive|TFileStream::TFileStream"));
  const RunResult read_fault =
      RunToolUnderStrace({"-e", InjectionOnTarget("pread64", "error=EIO")}, {file_});
  EXPECT_THAT(FunctionAt(read_fault.err), testing::HasSubstr("rtl::THandleStream::Read"));
}

// ---------------------------------------------------------------------------
// What the tool asks of the system.

// The calls on the target, its path shown as PATH and its descriptor as FD:
// its open, and every later call on the descriptor that the open returned,
// up to its close.
std::vector<std::string> CallsOnTarget(const std::vector<Call>& calls, const fs::path& target) {
  const std::size_t open = OpenOfTarget(calls, target);
  if (open == calls.size()) return {};
  const std::string fd = calls[open].result;
  std::vector<std::string> on_target{"openat(PATH) = FD"};
  for (std::size_t i = open + 1; i < calls.size(); ++i) {
    const Call& call = calls[i];
    if (!OnDescriptor(call, fd)) continue;
    on_target.push_back(call.name + "(FD" + call.arguments.substr(fd.size()) +
                        ") = " + call.result);
    // After the close the number is free for whatever opens next.
    if (call.name == "close") break;
  }
  return on_target;
}

TEST_F(WithStrace, TouchesTheFileOnlyToReadAndWriteItsFourBytes) {
  WriteFile(file_, kMislabelled);
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
  EXPECT_EQ(CallsOnTarget(TraceCalls(file_), file_), expected);
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
  const auto sizes_masked = [](std::vector<std::string> calls) {
    static const std::regex kSize("st_size=\\d+");
    for (auto& call : calls) call = std::regex_replace(call, kSize, "st_size=N");
    return calls;
  };
  const std::vector<Call> tiny_calls = TraceCalls(tiny);
  const std::vector<Call> huge_calls = TraceCalls(huge);
  EXPECT_EQ(names(huge_calls), names(tiny_calls));
  EXPECT_EQ(sizes_masked(CallsOnTarget(huge_calls, huge)),
            sizes_masked(CallsOnTarget(tiny_calls, tiny)));
  EXPECT_EQ(fs::file_size(huge), std::uintmax_t{5} << 30);
  EXPECT_EQ(ReadPrefix(huge, 4), "ID3\x03"s);
}

}  // namespace
}  // namespace test
