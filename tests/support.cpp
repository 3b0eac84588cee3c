#include "tests/support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace test {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

class Pipe {
 public:
  Pipe() {
    if (pipe2(ends_.data(), O_CLOEXEC) != 0) Fail("pipe2");
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() {
    CloseReadEnd();
    CloseWriteEnd();
  }
  int ReadEnd() const { return ends_[0]; }
  int WriteEnd() const { return ends_[1]; }
  void CloseReadEnd() { CloseEnd(0); }
  void CloseWriteEnd() { CloseEnd(1); }

 private:
  void CloseEnd(std::size_t end) {
    if (ends_[end] >= 0) close(ends_[end]);
    ends_[end] = -1;
  }
  std::array<int, 2> ends_{-1, -1};
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* Get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

// Drains both pipes until they close or the time is up.
bool Collect(Pipe& out, Pipe& err, RunResult& result, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::array<pollfd, 2> fds{{{out.ReadEnd(), POLLIN, 0}, {err.ReadEnd(), POLLIN, 0}}};
  std::array<std::string*, 2> sinks{&result.out, &result.err};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) {
      Fail("poll");
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      std::array<char, 4096> chunk{};
      const ssize_t count = read(fds[i].fd, chunk.data(), chunk.size());
      if (count > 0) {
        sinks[i]->append(chunk.data(), static_cast<std::size_t>(count));
      } else {
        fds[i].fd = -1;
      }
    }
  }
  return true;
}

// Starts argv[0] (looked up on PATH) with `actions` on its descriptors.
pid_t Spawn(const std::vector<std::string>& argv, SpawnActions& actions) {
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  pid_t child = 0;
  const int spawned =
      posix_spawnp(&child, arguments[0], actions.Get(), nullptr, arguments.data(), environ);
  if (spawned != 0) {
    errno = spawned;
    Fail("posix_spawnp " + argv[0]);
  }
  return child;
}

}  // namespace

pid_t StartCommand(const std::vector<std::string>& argv, const std::filesystem::path& out,
                   const std::filesystem::path& err) {
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(actions.Get(), STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  return Spawn(argv, actions);
}

RunResult RunCommand(const std::vector<std::string>& argv, const RunOptions& options) {
  Pipe out;
  Pipe err;
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.Get(), out.WriteEnd(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(actions.Get(), err.WriteEnd(), STDERR_FILENO);
  if (options.error_reader_gone) err.CloseReadEnd();
  if (!options.working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(actions.Get(), options.working_directory.c_str());
  }
  const pid_t child = Spawn(argv, actions);
  out.CloseWriteEnd();
  err.CloseWriteEnd();

  RunResult result;
  result.timed_out = !Collect(out, err, result, options.timeout);
  if (result.timed_out) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) Fail("waitpid");
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

std::string ToolPath() {
  const char* from_environment = std::getenv("ID3V23FIX_TOOL");
  return from_environment != nullptr ? from_environment : ID3V23FIX_TOOL_PATH;
}

RunResult RunTool(const std::vector<std::string>& arguments, const RunOptions& options) {
  std::vector<std::string> argv{ToolPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv, options);
}

RunResult RunToolUnderStrace(const std::vector<std::string>& strace_options,
                             const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"strace", "-f", "-qq", "-o", "/dev/null"};
  argv.insert(argv.end(), strace_options.begin(), strace_options.end());
  argv.push_back(ToolPath());
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv);
}

std::string WithCodeAddressMasked(std::string report) {
  static const std::regex kAddress(" の [0-9A-F]{8} で発生しました。");
  return std::regex_replace(report, kAddress, " の XXXXXXXX で発生しました。",
                            std::regex_constants::format_first_only);
}

std::string ExpectedReportText(std::string_view class_name, std::string_view module_name,
                               std::string_view message, std::string_view line_end) {
  std::ostringstream text;
  text << class_name << " がモジュール " << module_name << " の XXXXXXXX で発生しました。"
       << line_end << message << "." << line_end;
  return text.str();
}

std::string ExpectedReport(std::string_view class_name, std::string_view message) {
  return "アプリケーション エラー\n" + ExpectedReportText(class_name, "id3v23fix", message, "\n");
}

std::string OpenFailureMessage(std::string_view shown_path) {
  return "ファイル " + std::string(shown_path) + " は開けません";
}

std::string ExpectedOpenFailure(std::string_view shown_path) {
  return ExpectedReport("EFOpenError", OpenFailureMessage(shown_path));
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadPrefix(const std::filesystem::path& path, std::size_t size) {
  std::ifstream in(path, std::ios::binary);
  std::string prefix(size, '\0');
  in.read(prefix.data(), static_cast<std::streamsize>(size));
  prefix.resize(static_cast<std::size_t>(in.gcount()));
  return prefix;
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
  std::string name = (std::filesystem::temp_directory_path() / "id3v23fix-test-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr) Fail("mkdtemp");
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

OpenFile::OpenFile(const std::filesystem::path& path, int flags)
    : fd_(open(path.c_str(), flags | O_CLOEXEC)) {
  if (fd_ < 0) Fail("open " + path.string());
}

OpenFile::~OpenFile() { close(fd_); }

bool RunningAsRoot() { return geteuid() == 0; }

bool HaveCommand(const std::string& name) {
  return RunCommand({"sh", "-c", "command -v \"$0\" >/dev/null", name}).exit_status == 0;
}

}  // namespace test
