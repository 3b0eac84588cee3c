// The unhandled-failure report: what it says, and the platform's way of
// showing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/sysutils.h"

namespace rtl {

// The report's text, without its terminating zero, never exceeds this.
inline constexpr std::size_t kReportTextLimit = 1023;

struct FailureReport {
  std::string_view class_name;
  std::string_view module_name;  // the executable's file name, no directory
  std::uintptr_t code_offset;    // raise site, from the executable's start
  std::string_view message;
};

// The report's text with the platform's `line_end`, cut on a character
// boundary to kReportTextLimit bytes. Names and message come from outside
// (a file name can hold anything), so what is not printable, valid UTF-8
// in them is shown as \xHH escapes.
std::string FormatFailureReport(const FailureReport& report, std::string_view line_end);

// The code offset as the report shows it: eight or more upper-case hex digits.
std::string FormatCodeOffset(std::uintptr_t offset);

// `text` with every control character (C0, DEL, C1) and every byte that is
// not part of a well-formed UTF-8 character replaced by its \xHH escape.
std::string EscapeForDisplay(std::string_view text);

// The longest prefix of `text` of at most `limit` bytes that does not end
// inside a UTF-8 character.
std::string_view CutAtCharacterBoundary(std::string_view text, std::size_t limit);

// Shows the report for `failure`, the way the platform does.
void ShowUnhandledFailureReport(const Exception& failure);

}  // namespace rtl
