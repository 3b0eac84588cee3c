// Splitting a whole command line into arguments, the way the program's
// Windows run-time always has: no escapes, quotes only group.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace rtl {

namespace command_line_detail {

template <typename Char>
constexpr bool IsSeparator(Char c) {
  const auto code = static_cast<std::make_unsigned_t<Char>>(c);
  return code >= 1 && code <= 32;
}

template <typename Char>
void SkipSeparatorsAndEmptyPairs(std::basic_string_view<Char>& rest) {
  constexpr Char kQuote = '"';
  for (;;) {
    while (!rest.empty() && IsSeparator(rest.front())) rest.remove_prefix(1);
    if (rest.size() < 2 || rest[0] != kQuote || rest[1] != kQuote) return;
    rest.remove_prefix(2);
  }
}

// Takes the next item off the front of `rest`; an empty result means the
// line is used up (or holds nothing but an unclosed quote).
template <typename Char>
std::basic_string<Char> TakeItem(std::basic_string_view<Char>& rest) {
  constexpr Char kQuote = '"';
  SkipSeparatorsAndEmptyPairs(rest);
  std::basic_string<Char> item;
  while (!rest.empty() && !IsSeparator(rest.front())) {
    if (rest.front() != kQuote) {
      item.push_back(rest.front());
      rest.remove_prefix(1);
      continue;
    }
    rest.remove_prefix(1);
    const auto closing = rest.find(kQuote);
    item.append(rest.substr(0, closing));
    rest.remove_prefix(closing == rest.npos ? rest.size() : closing + 1);
  }
  return item;
}

}  // namespace command_line_detail

// The arguments on `line` after the program's own name, up to the first one
// that comes out empty. Separators are the codes 1 to 32; a pair of double
// quotes where an argument would begin is skipped; any other double quote
// opens or closes a stretch in which separators are kept, and is dropped; a
// stretch never closed runs to the end; a backslash is an ordinary
// character. A code 0 ends the line, as it does in the system's own.
template <typename Char>
std::vector<std::basic_string<Char>> SplitCommandLine(std::basic_string_view<Char> line) {
  line = line.substr(0, line.find(Char{}));
  command_line_detail::TakeItem(line);  // the program's own name
  std::vector<std::basic_string<Char>> arguments;
  for (auto item = command_line_detail::TakeItem(line); !item.empty();
       item = command_line_detail::TakeItem(line)) {
    arguments.push_back(std::move(item));
  }
  return arguments;
}

template <typename Char>
std::vector<std::basic_string<Char>> SplitCommandLine(const Char* line) {
  return SplitCommandLine(std::basic_string_view<Char>(line));
}

}  // namespace rtl
