#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <string>
#include <string_view>

#include "rtl/report.h"
#include "rtl/rtlconsts.h"

// Where the linker placed the start of the executable's image; the name is
// the linker's own.
extern "C" const char __executable_start;  // NOLINT(bugprone-reserved-identifier)

namespace rtl {

namespace {

std::string ExecutableFileName() {
  std::array<char, PATH_MAX> path{};
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) return program_invocation_short_name;  // no /proc: the name it ran by
  const std::string_view full(path.data(), static_cast<std::size_t>(length));
  return std::string(full.substr(full.rfind('/') + 1));
}

std::uintptr_t OffsetInExecutable(CodeAddress address) {
  return reinterpret_cast<std::uintptr_t>(address) -
         reinterpret_cast<std::uintptr_t>(&__executable_start);
}

void WriteToStandardError(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // nowhere left to say it; the status still tells
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void ShowUnhandledFailureReport(const Exception& failure) {
  // A reader that went away must not turn exit status 1 into a signal.
  signal(SIGPIPE, SIG_IGN);
  const std::string module_name = ExecutableFileName();
  std::string shown(SExceptTitle);
  shown += '\n';
  shown += FormatFailureReport({failure.ClassName(), module_name,
                                OffsetInExecutable(failure.RaiseAddress()), failure.Message()},
                               "\n");
  // A text cut short has lost its last line end; the terminal still needs one.
  if (shown.back() != '\n') shown += '\n';
  WriteToStandardError(shown);
}

}  // namespace rtl
