// Running the real tool on real files in a temporary folder.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace test {

struct RunResult {
  int exit_status = -1;  // -1 when it did not exit by itself
  bool timed_out = false;
  std::string out;
  std::string err;
};

struct RunOptions {
  std::filesystem::path working_directory{};  // empty: the test's own
  std::chrono::milliseconds timeout = std::chrono::seconds(20);
  bool error_reader_gone = false;  // standard error: a pipe nobody reads any more
};

// Runs argv[0] (looked up on PATH) with standard input from /dev/null.
RunResult RunCommand(const std::vector<std::string>& argv, const RunOptions& options = {});

// Starts argv[0] (looked up on PATH) without waiting for it, standard input
// from /dev/null, standard output and error into the files `out` and `err`.
// The caller waits for the process it returns.
pid_t StartCommand(const std::vector<std::string>& argv, const std::filesystem::path& out,
                   const std::filesystem::path& err);

// The tool under test.
std::string ToolPath();
RunResult RunTool(const std::vector<std::string>& arguments, const RunOptions& options = {});

// The tool under strace, which traces to /dev/null; `strace_options` go
// before the tool, e.g. {"-e", "inject=pread64:error=EIO"}.
RunResult RunToolUnderStrace(const std::vector<std::string>& strace_options,
                             const std::vector<std::string>& arguments);

// The report the tool writes for an unhandled failure, with the code
// address shown as "XXXXXXXX" once it has been checked to be eight
// upper-case hex digits; the text unchanged when it is no such report.
std::string WithCodeAddressMasked(std::string report);

// The report's text for `class_name` whose message is `message`, address
// masked, as the build whose executable is `module_name` forms it.
std::string ExpectedReportText(std::string_view class_name, std::string_view module_name,
                               std::string_view message, std::string_view line_end);
std::string OpenFailureMessage(std::string_view shown_path);

// The whole report on standard error, title line first, as the POSIX build writes it.
std::string ExpectedReport(std::string_view class_name, std::string_view message);
std::string ExpectedOpenFailure(std::string_view shown_path);

std::string ReadFile(const std::filesystem::path& path);
std::string ReadPrefix(const std::filesystem::path& path, std::size_t size);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// An open descriptor, closed at the end of its scope.
class OpenFile {
 public:
  OpenFile(const std::filesystem::path& path, int flags);
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile();
  int Descriptor() const { return fd_; }

 private:
  int fd_;
};

bool RunningAsRoot();
bool HaveCommand(const std::string& name);

}  // namespace test
