#include <windows.h>

#include <string>
#include <string_view>

#include "rtl/report.h"
#include "rtl/rtlconsts.h"
#include "rtl/wide_text-win32.h"

// The linker's name for the start of the module's loaded image.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace rtl {

namespace {

std::string ExecutableFileName() {
  // A path may be longer than MAX_PATH; the call says so by filling the buffer.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return Wtf8FromWide(std::wstring_view(path).substr(path.find_last_of(L"\\/") + 1));
}

std::uintptr_t OffsetInExecutable(CodeAddress address) {
  return reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(&__ImageBase);
}

}  // namespace

void ShowUnhandledFailureReport(const Exception& failure) {
  const std::string module_name = ExecutableFileName();
  const std::string text =
      FormatFailureReport({failure.ClassName(), module_name,
                           OffsetInExecutable(failure.RaiseAddress()), failure.Message()},
                          "\r\n");
  MessageBoxW(nullptr, WideFromWtf8(text).c_str(), WideFromWtf8(SExceptTitle).c_str(),
              MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

}  // namespace rtl
