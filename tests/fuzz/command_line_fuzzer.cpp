// Any command line through the splitter, as bytes and as UTF-16 units: no
// argument comes out empty or holds a double quote, and quoting each one
// and splitting the line they make gives the same arguments back.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "rtl/command_line.h"

namespace {

template <typename Char>
void CheckSplitting(const std::basic_string<Char>& line) {
  const std::vector<std::basic_string<Char>> arguments = rtl::SplitCommandLine<Char>(line);
  std::basic_string<Char> quoted_again{'p', 'r', 'o', 'g'};
  for (const auto& argument : arguments) {
    if (argument.empty() || argument.find(Char{'"'}) != argument.npos) std::abort();
    quoted_again += Char{' '};
    quoted_again += Char{'"'};
    quoted_again += argument;
    quoted_again += Char{'"'};
  }
  if (rtl::SplitCommandLine<Char>(quoted_again) != arguments) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckSplitting(std::string(reinterpret_cast<const char*>(data), size));
  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  CheckSplitting(units);
  return 0;
}
