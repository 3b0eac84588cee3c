#include "rtl/wtf8.h"

#include <cstdint>

namespace rtl {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendEncoded(std::string& out, char32_t code) {
  const auto byte = [&out](char32_t value) {
    out += static_cast<char>(static_cast<std::uint8_t>(value));
  };
  if (code < 0x80) {
    byte(code);
  } else if (code < 0x800) {
    byte(0xC0 | (code >> 6));
    byte(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    byte(0xE0 | (code >> 12));
    byte(0x80 | ((code >> 6) & 0x3F));
    byte(0x80 | (code & 0x3F));
  } else {
    byte(0xF0 | (code >> 18));
    byte(0x80 | ((code >> 12) & 0x3F));
    byte(0x80 | ((code >> 6) & 0x3F));
    byte(0x80 | (code & 0x3F));
  }
}

void AppendUnits(std::u16string& out, char32_t code) {
  if (code < 0x10000) {
    out += static_cast<char16_t>(code);
  } else {
    out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
  }
}

// Decodes the sequence at the start of `bytes`, taking at least one byte.
// A surrogate pair spelt as two three-byte sequences is not WTF-8 (it would
// give two spellings to one name); it decodes as two lone surrogates and so
// comes back as the pair it spells, which is as exact as it can be.
char32_t TakeCode(std::string_view& bytes) {
  const auto lead = static_cast<std::uint8_t>(bytes[0]);
  if (lead < 0x80) {
    bytes.remove_prefix(1);
    return lead;
  }
  // The sequence's length, the lead's payload bits, and the least code
  // that needs that length (anything less is an overlong form).
  struct Form {
    std::size_t length;
    char32_t payload_mask;
    char32_t smallest;
  };
  Form form{};
  if (lead >= 0xC2 && lead <= 0xDF) {
    form = {2, 0x1F, 0x80};
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    form = {3, 0x0F, 0x800};
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    form = {4, 0x07, 0x10000};
  } else {
    bytes.remove_prefix(1);
    return kReplacement;
  }
  const std::size_t length = form.length;
  char32_t code = lead & form.payload_mask;
  std::size_t taken = 1;
  for (; taken < length && taken < bytes.size(); ++taken) {
    const auto next = static_cast<std::uint8_t>(bytes[taken]);
    if ((next & 0xC0) != 0x80) break;
    code = (code << 6) | (next & 0x3Fu);
  }
  bytes.remove_prefix(taken);
  if (taken < length || code < form.smallest || code > 0x10FFFF) return kReplacement;
  return code;
}

}  // namespace

std::string Wtf8FromUtf16(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (IsHighSurrogate(code) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00u);
    }
    AppendEncoded(bytes, code);
  }
  return bytes;
}

std::u16string Utf16FromWtf8(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) AppendUnits(text, TakeCode(bytes));
  return text;
}

}  // namespace rtl
