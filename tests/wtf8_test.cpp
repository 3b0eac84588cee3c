// Names as the Windows build hands them to the program and back: every
// UTF-16 text, well formed or not, must survive the trip exactly.

#include <gtest/gtest.h>

#include "rtl/wtf8.h"

namespace rtl {
namespace {

struct Spelling {
  std::string name;
  std::u16string units;
  std::string bytes;
};

inline void PrintTo(const Spelling& value, std::ostream* out) { *out << value.name; }

class SpellingTest : public testing::TestWithParam<Spelling> {};

TEST_P(SpellingTest, EncodesAndDecodesExactly) {
  EXPECT_EQ(Wtf8FromUtf16(GetParam().units), GetParam().bytes);
  EXPECT_EQ(Utf16FromWtf8(GetParam().bytes), GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SpellingTest,
    testing::Values(
        Spelling{"empty", u"", ""}, Spelling{"ascii_path", u"C:\\Music\\a.mp3", "C:\\Music\\a.mp3"},
        Spelling{"japanese", u"曲.mp3", "\xE6\x9B\xB2.mp3"},
        Spelling{"surrogate_pair", u"\U0001F3B5", "\xF0\x9F\x8E\xB5"},
        Spelling{"lone_high_surrogate", std::u16string(1, char16_t{0xD83C}), "\xED\xA0\xBC"},
        Spelling{"lone_low_surrogate", std::u16string(1, char16_t{0xDFB5}), "\xED\xBE\xB5"},
        Spelling{"low_before_high", std::u16string{char16_t{0xDFB5}, char16_t{0xD83C}},
                 "\xED\xBE\xB5\xED\xA0\xBC"},
        Spelling{"high_at_the_end", std::u16string{u'a', char16_t{0xD800}}, "a\xED\xA0\x80"}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(Wtf8, EveryCodeUnitAloneSurvivesTheTrip) {
  for (char32_t unit = 1; unit <= 0xFFFF; ++unit) {
    const std::u16string text(1, static_cast<char16_t>(unit));
    ASSERT_EQ(Utf16FromWtf8(Wtf8FromUtf16(text)), text) << static_cast<unsigned>(unit);
  }
}

TEST(Wtf8, EveryCodePointPastTheBasicPlaneSurvivesTheTrip) {
  for (char32_t code = 0x10000; code <= 0x10FFFF; code += 0x3F) {
    const std::u16string text{static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)),
                              static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF))};
    const std::string bytes = Wtf8FromUtf16(text);
    ASSERT_EQ(bytes.size(), 4U);
    ASSERT_EQ(Utf16FromWtf8(bytes), text) << static_cast<unsigned>(code);
  }
}

TEST(Wtf8, BytesThatSpellNothingBecomeReplacementCharacters) {
  // Each byte that cannot start a sequence is one replacement; a sequence
  // that starts well but spells no code (overlong, past U+10FFFF) is one.
  const std::vector<std::pair<std::string, std::size_t>> cases{{"\x80", 1},
                                                               {"\xBF", 1},
                                                               {"\xFF", 1},
                                                               {"\xC0\xAF", 2},
                                                               {"\xF8\x88\x80\x80\x80", 5},
                                                               {"\xE0\x80\xAF", 1},
                                                               {"\xF4\x90\x80\x80", 1}};
  for (const auto& [bytes, replacements] : cases) {
    EXPECT_EQ(Utf16FromWtf8(bytes), std::u16string(replacements, u'\uFFFD'))
        << testing::PrintToString(bytes);
  }
  // A cut sequence is one replacement, and what follows it is kept.
  EXPECT_EQ(Utf16FromWtf8("\xE6\x9B"
                          "a"),
            (std::u16string{u'\uFFFD', u'a'}));
}

}  // namespace
}  // namespace rtl
