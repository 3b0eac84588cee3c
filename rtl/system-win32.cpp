#include <windows.h>

#include <string>
#include <vector>

#include "rtl/command_line.h"
#include "rtl/system.h"
#include "rtl/wide_text-win32.h"

namespace {

// The system hands the whole command line over as one text; the splitting
// is the run-time's, done once, on the wide text so no name is lost to the
// code page.
const std::vector<std::wstring>& Arguments() {
  static const std::vector<std::wstring> arguments = rtl::SplitCommandLine(GetCommandLineW());
  return arguments;
}

}  // namespace

namespace rtl {

int ParamCount() { return static_cast<int>(Arguments().size()); }

std::string ParamStr(int index) {
  if (index < 1 || index > ParamCount()) return {};
  return Wtf8FromWide(Arguments()[static_cast<std::size_t>(index - 1)]);
}

}  // namespace rtl

// The graphical subsystem's entry: no console is made for the process.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  return rtl::RunProgram();
}
