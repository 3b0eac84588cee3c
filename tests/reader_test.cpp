// An independent reader, id3lib's id3v2, before and after the repair of
// the shipped sample.

#include <gtest/gtest.h>

#include "tests/support.h"

namespace test {
namespace {

TEST(Reader, SeesTheSamplesTagOnlyAfterTheRepair) {
  if (!HaveCommand("id3v2")) GTEST_SKIP() << "id3lib's id3v2 is not installed";
  TempDir dir;
  const std::filesystem::path copy = dir / "sample.mp3";
  std::filesystem::copy_file(ID3V23FIX_SAMPLE_PATH, copy);
  const std::string before = ReadFile(copy);

  const RunResult unrepaired = RunCommand({"id3v2", "-l", copy});
  EXPECT_NE(unrepaired.out.find("No ID3 tag"), std::string::npos) << unrepaired.out;

  const RunResult repair = RunTool({copy});
  ASSERT_EQ(repair.exit_status, 0) << repair.err;
  const RunResult repaired = RunCommand({"id3v2", "-l", copy});
  EXPECT_NE(repaired.out.find("TIT2 (Title/songname/content description): id3v23fix sample"),
            std::string::npos)
      << repaired.out;
  EXPECT_NE(repaired.out.find("it is longer than 127 bytes."), std::string::npos) << repaired.out;

  std::string expected = before;
  expected[3] = '\x03';
  EXPECT_EQ(ReadFile(copy), expected);
}

}  // namespace
}  // namespace test
