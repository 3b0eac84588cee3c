// Between the run-time's strings (WTF-8) and the wide strings the Win32
// API takes. wchar_t is UTF-16 there, so the conversion is unit for unit.
#pragma once

#include <string>
#include <string_view>

#include "rtl/wtf8.h"

namespace rtl {

inline std::wstring WideFromWtf8(std::string_view bytes) {
  const std::u16string units = Utf16FromWtf8(bytes);
  return {units.begin(), units.end()};
}

inline std::string Wtf8FromWide(std::wstring_view text) {
  return Wtf8FromUtf16(std::u16string(text.begin(), text.end()));
}

}  // namespace rtl
