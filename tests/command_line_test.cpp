#include "rtl/command_line.h"

#include <gtest/gtest.h>

namespace rtl {
namespace {

using Arguments = std::vector<std::string>;

struct SplitCase {
  std::string name;
  std::string line;
  Arguments expected;
};

// Test names carry the case; gtest need not print its bytes.
inline void PrintTo(const SplitCase& value, std::ostream* out) { *out << value.name; }

std::vector<SplitCase> SplitCases() {
  using namespace std::string_literals;
  return {
      {"empty_line", "", {}},
      {"program_name_only", "prog", {}},
      {"one_argument", "prog a.mp3", {"a.mp3"}},
      {"two_arguments", "prog a b", {"a", "b"}},
      {"separators_are_codes_1_to_32",
       "prog\ta\x01"
       "b\x1f"
       "c d\re\nf",
       {"a", "b", "c", "d", "e", "f"}},
      {"code_33_and_127_are_characters", "prog !a \x7f", {"!a", "\x7f"}},
      {"runs_of_separators", "  prog   a  \t b  ", {"a", "b"}},
      {"bytes_above_127_are_characters", "prog 曲.mp3 \xa0x", {"曲.mp3", "\xa0x"}},
      {"quoted_program_name", "\"C:\\Program Files\\x.exe\" a", {"a"}},
      {"program_name_with_stretch", "pr\"o g\"x a", {"a"}},
      {"empty_pair_before_argument_skipped", "prog \"\" a.mp3", {"a.mp3"}},
      {"empty_pair_alone_is_no_argument", "prog \"\"", {}},
      {"empty_pairs_in_a_row", "prog \"\"\"\" \"\" a", {"a"}},
      {"empty_pair_then_argument_directly", "prog \"\"a", {"a"}},
      {"empty_pair_after_argument", "prog a \"\"", {"a"}},
      {"quoted_blank_stays_in", "prog \"my song.mp3\"", {"my song.mp3"}},
      {"unquoted_blank_splits", "prog my song.mp3", {"my", "song.mp3"}},
      {"stretch_mid_argument", "prog a\"b c\"d e", {"ab cd", "e"}},
      {"empty_pair_mid_argument_dropped", "prog a\"\"b", {"ab"}},
      {"separators_inside_stretch_kept", "prog \"\t\x01 \"", {"\t\x01 "}},
      {"unclosed_stretch_runs_to_end", "prog \"a b\tc", {"a b\tc"}},
      {"backslash_is_literal", "prog C:\\dir\\ a\\\"b c\"", {"C:\\dir\\", "a\\b c"}},
      {"three_quotes_open_a_stretch", "prog \"\"\"a b\"", {"a b"}},
      {"lone_quote_at_end_is_empty_and_ends", "prog a \"", {"a"}},
      {"code_0_ends_the_line", "prog a\0b c"s, {"a"}},
  };
}

class SplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, GivesTheArgumentsAfterTheProgramName) {
  EXPECT_EQ(SplitCommandLine(std::string_view(GetParam().line)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, SplitTest, testing::ValuesIn(SplitCases()),
                         [](const auto& case_info) { return case_info.param.name; });

// The Windows build splits the wide command line; code units above 127 are
// characters there too, whatever their low byte.
TEST(SplitWide, TreatsEveryNonAsciiCodeUnitAsACharacter) {
  const std::vector<std::wstring> expected{L"曲 名.mp3", L"\u2020\u0120"};
  EXPECT_EQ(SplitCommandLine(L"prog \"曲 名.mp3\" \u2020\u0120"), expected);
  const std::vector<std::u16string> expected16{u"\u2022x"};
  EXPECT_EQ(SplitCommandLine(u"prog \u2022x"), expected16);
}

}  // namespace
}  // namespace rtl
