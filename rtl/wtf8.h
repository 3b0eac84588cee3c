// UTF-16 text as bytes and back. Windows hands out names as UTF-16 that
// need not be well formed (a lone surrogate is a valid file name there), so
// the bytes are WTF-8: UTF-8 that also encodes lone surrogates, which makes
// the trip exact for every name.
#pragma once

#include <string>
#include <string_view>

namespace rtl {

std::string Wtf8FromUtf16(std::u16string_view text);

// The inverse of Wtf8FromUtf16. Bytes that encode nothing (a stray
// continuation byte, a cut sequence, an overlong form) become U+FFFD.
std::u16string Utf16FromWtf8(std::string_view bytes);

}  // namespace rtl
