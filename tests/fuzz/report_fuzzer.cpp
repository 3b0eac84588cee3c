// Any bytes as the path in the open-failure report: the text stays within
// its limit, is well-formed UTF-8 cut on a character boundary, and holds
// no control character but its own line ends, so that a crafted name can
// neither drive a terminal nor break the report's form.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rtl/report.h"
#include "rtl/rtlconsts.h"
#include "rtl/sysutils.h"
#include "rtl/wtf8.h"

namespace {

bool IsWellFormedUtf8(const std::string& text) {
  // WTF-8 differs from UTF-8 only by lone surrogates (ED A0 to ED BF).
  if (rtl::Wtf8FromUtf16(rtl::Utf16FromWtf8(text)) != text) return false;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xED &&
        static_cast<unsigned char>(text[i + 1]) >= 0xA0) {
      return false;
    }
  }
  return true;
}

bool HoldsOnlyItsOwnControls(std::string_view text, std::string_view line_end) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool control =
        byte < 0x20 || byte == 0x7F ||
        (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0);
    if (control && line_end.find(text[i]) == line_end.npos) return false;
  }
  return true;
}

void Check(std::string_view path, std::string_view line_end) {
  const std::string message = rtl::FormatText(rtl::SFOpenError, {path});
  const std::string text =
      rtl::FormatFailureReport({"EFOpenError", path, 0x1234, message}, line_end);
  if (text.size() > rtl::kReportTextLimit) std::abort();
  if (!IsWellFormedUtf8(text)) std::abort();
  if (!HoldsOnlyItsOwnControls(text, line_end)) std::abort();
  if (!text.starts_with("EFOpenError がモジュール ")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view path(reinterpret_cast<const char*>(data), size);
  Check(path, "\n");
  Check(path, "\r\n");
  // The trip a Windows name takes comes back the same the second time.
  const std::string once = rtl::Wtf8FromUtf16(rtl::Utf16FromWtf8(path));
  if (rtl::Wtf8FromUtf16(rtl::Utf16FromWtf8(once)) != once) std::abort();
  return 0;
}
