#include "rtl/report.h"

#include <gtest/gtest.h>

namespace rtl {
namespace {

const std::string kFirstLine = "EFOpenError がモジュール id3v23fix の 0000293B で発生しました。\n";

FailureReport OpenFailure(std::string_view message) {
  return {"EFOpenError", "id3v23fix", 0x293B, message};
}

TEST(ReportText, FollowsTheFormatWithThePlatformsLineEnds) {
  const FailureReport report = OpenFailure("ファイル a.mp3 は開けません");
  EXPECT_EQ(FormatFailureReport(report, "\n"),
            "EFOpenError がモジュール id3v23fix の 0000293B で発生しました。\n"
            "ファイル a.mp3 は開けません.\n");
  EXPECT_EQ(FormatFailureReport(report, "\r\n"),
            "EFOpenError がモジュール id3v23fix の 0000293B で発生しました。\r\n"
            "ファイル a.mp3 は開けません.\r\n");
}

struct FullStopCase {
  std::string message;
  std::string shown;  // the second line
};

inline void PrintTo(const FullStopCase& value, std::ostream* out) {
  *out << '"' << value.message << '"';
}

class FullStopTest : public testing::TestWithParam<FullStopCase> {};

TEST_P(FullStopTest, IsAddedUnlessTheMessageIsEmptyOrEndsInOne) {
  const std::string text = FormatFailureReport(OpenFailure(GetParam().message), "\n");
  EXPECT_EQ(text.substr(text.find('\n') + 1), GetParam().shown + "\n");
}

INSTANTIATE_TEST_SUITE_P(Messages, FullStopTest,
                         testing::Values(FullStopCase{"abc", "abc."}, FullStopCase{"abc.", "abc."},
                                         FullStopCase{"", ""}, FullStopCase{"a.b", "a.b."},
                                         FullStopCase{"...", "..."}, FullStopCase{"a。", "a。."},
                                         FullStopCase{"a\n", "a\\x0a."}));

TEST(ReportText, ShowsTheCodeOffsetInAtLeastEightUpperCaseHexDigits) {
  EXPECT_EQ(FormatCodeOffset(0), "00000000");
  EXPECT_EQ(FormatCodeOffset(0xABCDEF), "00ABCDEF");
  EXPECT_EQ(FormatCodeOffset(0xDEADBEEF), "DEADBEEF");
  EXPECT_EQ(FormatCodeOffset(std::uintptr_t{0x1} << 32), "100000000");
}

struct EscapeCase {
  std::string name;
  std::string text;
  std::string shown;
};

// Test names carry the case; gtest need not print its bytes.
inline void PrintTo(const EscapeCase& value, std::ostream* out) { *out << value.name; }

class EscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, ShowsOnlyPrintableWellFormedText) {
  EXPECT_EQ(EscapeForDisplay(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeTest,
    testing::Values(EscapeCase{"plain", "a b/c.mp3", "a b/c.mp3"},
                    EscapeCase{"japanese_and_emoji", "曲名 \xf0\x9f\x8e\xb5",
                               "曲名 \xf0\x9f\x8e\xb5"},
                    EscapeCase{"no_break_space_is_printable", "\xc2\xa0", "\xc2\xa0"},
                    EscapeCase{"escape_sequence", "\x1b[2J", "\\x1b[2J"},
                    EscapeCase{"line_ends_and_tab", "a\r\n\tb", "a\\x0d\\x0a\\x09b"},
                    EscapeCase{"delete", "\x7f", "\\x7f"},
                    EscapeCase{"c1_control_csi",
                               "\xc2\x9b"
                               "31m",
                               "\\xc2\\x9b"
                               "31m"},
                    EscapeCase{"stray_continuation",
                               "a\x80"
                               "b",
                               "a\\x80b"},
                    EscapeCase{"invalid_byte", "\xff", "\\xff"},
                    EscapeCase{"truncated_at_end", "a\xe6\x97", "a\\xe6\\x97"},
                    EscapeCase{"truncated_before_ascii", "\xe6\x97x", "\\xe6\\x97x"},
                    EscapeCase{"overlong_slash", "\xc0\xaf", "\\xc0\\xaf"},
                    EscapeCase{"overlong_three_bytes", "\xe0\x80\xaf", "\\xe0\\x80\\xaf"},
                    EscapeCase{"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
                    EscapeCase{"above_10ffff", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
                    EscapeCase{"largest_code_point", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(ReportText, EscapesTheModuleNameToo) {
  const FailureReport report{"EFOpenError", "fix\x1b", 0, "m"};
  EXPECT_EQ(FormatFailureReport(report, "\n"),
            "EFOpenError がモジュール fix\\x1b の 00000000 で発生しました。\nm.\n");
}

// Each padding puts the cut at another byte of a three-byte character.
class CutTest : public testing::TestWithParam<int> {};

TEST_P(CutTest, KeepsAtMost1023BytesAndNeverSplitsACharacter) {
  std::string message(static_cast<std::size_t>(GetParam()), 'x');
  for (int i = 0; i < 400; ++i) message += "曲";
  const FailureReport report = OpenFailure(message);
  const std::string text = FormatFailureReport(report, "\n");
  const std::string full = kFirstLine + message + ".\n";

  EXPECT_LE(text.size(), kReportTextLimit);
  EXPECT_GE(text.size(), kReportTextLimit - 2);
  EXPECT_EQ(text, full.substr(0, text.size()));
  EXPECT_NE(static_cast<unsigned char>(full[text.size()]) & 0xC0, 0x80);
}

INSTANTIATE_TEST_SUITE_P(Paddings, CutTest, testing::Values(0, 1, 2));

TEST(ReportText, KeepsATextThatFitsWhole) {
  const std::string message(kReportTextLimit - kFirstLine.size() - 2, 'x');  // "." and "\n" follow
  EXPECT_EQ(FormatFailureReport(OpenFailure(message), "\n"), kFirstLine + message + ".\n");
}

}  // namespace
}  // namespace rtl
