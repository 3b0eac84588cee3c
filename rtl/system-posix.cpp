#include <span>
#include <string>

#include "rtl/system.h"

namespace {

// The shell has split the command line already; an empty word here is
// what an empty pair of quotes became, which the Windows splitting skips.
std::span<char*> g_arguments;

}  // namespace

namespace rtl {

int ParamCount() {
  int count = 0;
  for (const char* argument : g_arguments) {
    if (*argument != '\0') ++count;
  }
  return count;
}

std::string ParamStr(int index) {
  if (index < 1) return {};
  for (const char* argument : g_arguments) {
    if (*argument != '\0' && --index == 0) return argument;
  }
  return {};
}

}  // namespace rtl

int main(int argc, char** argv) {
  if (argc > 0) g_arguments = std::span<char*>(argv + 1, static_cast<std::size_t>(argc - 1));
  return rtl::RunProgram();
}
