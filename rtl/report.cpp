#include "rtl/report.h"

#include <array>
#include <cstdio>

#include "rtl/rtlconsts.h"

namespace rtl {

namespace {

bool IsContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 character at the start of `text`, or 0.
std::size_t WellFormedCharacterLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;   // bounds on the second byte that rule out
  unsigned char high = 0xBF;  // overlong forms, surrogates and > U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsContinuationByte(static_cast<unsigned char>(text[i]))) return 0;
  }
  return length;
}

bool IsControlCharacter(std::string_view character) {
  const auto lead = static_cast<unsigned char>(character[0]);
  if (lead < 0x20 || lead == 0x7F) return true;
  // U+0080 to U+009F, which some terminals obey as controls too.
  return lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

void AppendEscaped(std::string& out, std::string_view bytes) {
  for (const char byte : bytes) {
    std::array<char, 5> escape{};
    std::snprintf(escape.data(), escape.size(), "\\x%02x", static_cast<unsigned char>(byte));
    out += escape.data();
  }
}

}  // namespace

std::string EscapeForDisplay(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = WellFormedCharacterLength(text);
    const std::size_t taken = length == 0 ? 1 : length;
    const std::string_view character = text.substr(0, taken);
    if (length == 0 || IsControlCharacter(character)) {
      AppendEscaped(shown, character);
    } else {
      shown += character;
    }
    text.remove_prefix(taken);
  }
  return shown;
}

std::string_view CutAtCharacterBoundary(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && IsContinuationByte(static_cast<unsigned char>(text[end]))) --end;
  return text.substr(0, end);
}

std::string FormatCodeOffset(std::uintptr_t offset) {
  std::array<char, 2 * sizeof offset + 1> digits{};
  std::snprintf(digits.data(), digits.size(), "%08llX", static_cast<unsigned long long>(offset));
  return digits.data();
}

std::string FormatFailureReport(const FailureReport& report, std::string_view line_end) {
  const std::string format = [&] {
    std::string with_line_ends;
    std::string_view rest = SException;
    for (auto crlf = rest.find("\r\n"); crlf != rest.npos; crlf = rest.find("\r\n")) {
      with_line_ends.append(rest.substr(0, crlf)).append(line_end);
      rest.remove_prefix(crlf + 2);
    }
    return with_line_ends.append(rest);
  }();
  const std::string message = EscapeForDisplay(report.message);
  const std::string_view full_stop = !message.empty() && message.back() != '.' ? "." : "";
  const std::string text =
      FormatText(format, {EscapeForDisplay(report.class_name), EscapeForDisplay(report.module_name),
                          FormatCodeOffset(report.code_offset), message, full_stop});
  return std::string(CutAtCharacterBoundary(text, kReportTextLimit));
}

}  // namespace rtl
