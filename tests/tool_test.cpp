// The real tool on real files: what it changes, what it refuses, and what
// counts as its one argument.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "tests/file_cases.h"
#include "tests/support.h"

namespace test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kMislabelled = MislabelledTag();
const std::string kRepaired = RepairedTag();

void ExpectQuietSuccess(const RunResult& run) {
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

class FileCaseTest : public testing::TestWithParam<FileCase> {};

TEST_P(FileCaseTest, LeavesExactlyTheExpectedBytes) {
  const FileCase& file_case = GetParam();
  TempDir dir;
  const fs::path file = dir / "song.mp3";
  WriteFile(file, file_case.before);

  ExpectQuietSuccess(RunTool({file}));
  EXPECT_EQ(ReadFile(file), file_case.after);  // length included
}

INSTANTIATE_TEST_SUITE_P(Files, FileCaseTest, testing::ValuesIn(FileCases()),
                         [](const auto& case_info) { return case_info.param.name; });

TEST(Rewrite, HappensEvenWhenTheVersionIsAlready3) {
  TempDir dir;
  const fs::path file = dir / "song.mp3";
  WriteFile(file, kRepaired);
  const timespec long_ago[2] = {{946684800, 0}, {946684800, 0}};  // 2000-01-01
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), long_ago, 0), 0);

  ExpectQuietSuccess(RunTool({file}));
  struct stat status {};
  ASSERT_EQ(stat(file.c_str(), &status), 0);
  EXPECT_GT(status.st_mtim.tv_sec, long_ago[1].tv_sec);
  EXPECT_EQ(ReadFile(file), kRepaired);
}

TEST(Rewrite, FollowsASymbolicLinkToItsFile) {
  TempDir dir;
  WriteFile(dir / "song.mp3", kMislabelled);
  fs::create_symlink("song.mp3", dir / "link.mp3");

  ExpectQuietSuccess(RunTool({dir / "link.mp3"}));
  EXPECT_EQ(ReadFile(dir / "song.mp3"), kRepaired);
  EXPECT_TRUE(fs::is_symlink(dir / "link.mp3"));
}

// ---------------------------------------------------------------------------
// Refusals: every one is the open-failure report, exit status 1, and the
// file as it was.

struct Refusal {
  std::string name;
  // Makes what the tool is pointed at; returns the path, and may keep
  // something alive (an open descriptor) in `holder` for the run.
  std::function<fs::path(const TempDir&, std::shared_ptr<void>& holder)> make;
};

// Test names carry the case; gtest need not print its bytes.
inline void PrintTo(const Refusal& value, std::ostream* out) { *out << value.name; }

fs::path MislabelledFile(const TempDir& dir, mode_t mode) {
  const fs::path file = dir / "song.mp3";
  WriteFile(file, kMislabelled);
  fs::permissions(file, static_cast<fs::perms>(mode));
  return file;
}

std::vector<Refusal> Refusals() {
  return {
      {"missing_file", [](const TempDir& dir, auto&) { return dir / "missing.mp3"; }},
      {"directory",
       [](const TempDir& dir, auto&) {
         fs::create_directory(dir / "folder");
         return dir / "folder";
       }},
      {"fifo",
       [](const TempDir& dir, auto&) {
         const fs::path fifo = dir / "fifo";
         if (mkfifo(fifo.c_str(), 0644) != 0) throw std::runtime_error("mkfifo");
         return fifo;
       }},
      {"socket",
       [](const TempDir& dir, std::shared_ptr<void>& holder) {
         const fs::path path = dir / "socket";
         const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
         holder = std::shared_ptr<void>(nullptr, [fd](void*) { close(fd); });
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
         if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
           throw std::runtime_error("bind");
         }
         return path;
       }},
      {"device", [](const TempDir&, auto&) { return fs::path("/dev/null"); }},
      {"read_only_file", [](const TempDir& dir, auto&) { return MislabelledFile(dir, 0444); }},
      {"no_write_bit_but_executable",
       [](const TempDir& dir, auto&) { return MislabelledFile(dir, 0555); }},
      {"held_open_by_another_process",
       [](const TempDir& dir, std::shared_ptr<void>& holder) {
         const fs::path file = MislabelledFile(dir, 0644);
         holder = std::make_shared<OpenFile>(file, O_RDONLY);
         return file;
       }},
      {"dangling_symbolic_link",
       [](const TempDir& dir, auto&) {
         fs::create_symlink("nowhere.mp3", dir / "link.mp3");
         return dir / "link.mp3";
       }},
      {"name_component_too_long",
       [](const TempDir& dir, auto&) { return dir / std::string(300, 'a'); }},
  };
}

class RefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, ReportsTheOpenFailureAndChangesNothing) {
  TempDir dir;
  std::shared_ptr<void> holder;
  const fs::path target = GetParam().make(dir, holder);
  std::error_code no_such_file;
  const bool is_file = fs::is_regular_file(target, no_such_file);

  const RunResult run = RunTool({target}, {.timeout = std::chrono::seconds(10)});

  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(WithCodeAddressMasked(run.err), ExpectedOpenFailure(target.string()));
  if (is_file) {
    EXPECT_EQ(ReadFile(target), kMislabelled);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, RefusalTest, testing::ValuesIn(Refusals()),
                         [](const auto& case_info) { return case_info.param.name; });

TEST(Refusal, ShowsControlCharactersAndInvalidUtf8InThePathEscaped) {
  TempDir dir;
  const fs::path target = dir / "\x1b]0;owned\x07\n\xff.mp3";
  const RunResult run = RunTool({target});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(WithCodeAddressMasked(run.err),
            ExpectedOpenFailure(dir.Path().string() + "/\\x1b]0;owned\\x07\\x0a\\xff.mp3"));
}

// A report nobody reads must not turn exit status 1 into death by SIGPIPE.
TEST(Refusal, ExitsWith1EvenWhenNobodyReadsTheReport) {
  TempDir dir;
  const RunResult run = RunTool({dir / "missing.mp3"}, {.error_reader_gone = true});
  EXPECT_EQ(run.exit_status, 1);
}

TEST(Refusal, CutsAReportTooLongOnACharacterBoundary) {
  TempDir dir;
  std::string long_name = dir.Path().string() + "/";
  while (long_name.size() < 5000) long_name += "曲/";  // past PATH_MAX
  const RunResult run = RunTool({long_name});

  EXPECT_EQ(run.exit_status, 1);
  const std::string title = "アプリケーション エラー\n";
  ASSERT_EQ(run.err.substr(0, title.size()), title);
  ASSERT_EQ(run.err.back(), '\n');
  const std::string text = run.err.substr(title.size(), run.err.size() - title.size() - 1);
  const std::string full = ExpectedOpenFailure(long_name).substr(title.size());
  EXPECT_LE(text.size(), 1023U);
  EXPECT_GE(text.size(), 1021U);  // no more than one three-byte character lost
  EXPECT_EQ(WithCodeAddressMasked(text), full.substr(0, text.size()));
  EXPECT_NE(static_cast<unsigned char>(full[text.size()]) & 0xC0, 0x80);
}

// Without a lease (the tool is not the file's owner), the lock is what
// keeps two runs, and every tool that locks, apart.
TEST(Refusal, LockHeldElsewhereStopsARunThatCannotTakeALease) {
  if (!RunningAsRoot() || !HaveCommand("setpriv")) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  fs::permissions(dir.Path(), fs::perms(0755));
  const fs::path file = MislabelledFile(dir, 0666);
  const std::vector<std::string> as_nobody{"setpriv",        "--reuid=65534", "--regid=65534",
                                           "--clear-groups", ToolPath(),      file};
  {
    const OpenFile locked(file, O_RDONLY);
    ASSERT_EQ(flock(locked.Descriptor(), LOCK_EX), 0);
    const RunResult run = RunCommand(as_nobody);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(WithCodeAddressMasked(run.err), ExpectedOpenFailure(file.string()));
    EXPECT_EQ(ReadFile(file), kMislabelled);
  }
  ExpectQuietSuccess(RunCommand(as_nobody));
  EXPECT_EQ(ReadFile(file), kRepaired);
}

// ---------------------------------------------------------------------------
// The one argument. Empty arguments are what empty pairs of quotes became.

struct ArgumentCase {
  std::string name;
  std::vector<std::string> arguments;
  std::vector<std::string> repaired;  // of the files below; the rest stay
};

// Test names carry the case; gtest need not print its bytes.
inline void PrintTo(const ArgumentCase& value, std::ostream* out) { *out << value.name; }

const std::vector<std::string> kFileNames{"a.mp3",           "my song.mp3",  "my",    "song.mp3",
                                          "曲 ♪ テスト.mp3", "\xff\xfe.mp3", "-v.mp3"};

std::vector<ArgumentCase> ArgumentCases() {
  return {
      {"none", {}, {}},
      {"two_paths", {"a.mp3", "song.mp3"}, {}},
      {"unquoted_blank_makes_two", {"my", "song.mp3"}, {}},
      {"path_with_blank", {"my song.mp3"}, {"my song.mp3"}},
      {"empty_before", {"", "a.mp3"}, {"a.mp3"}},
      {"empty_after", {"a.mp3", ""}, {"a.mp3"}},
      {"empties_around", {"", "", "a.mp3", ""}, {"a.mp3"}},
      {"empty_alone", {""}, {}},
      {"non_ascii_name", {"曲 ♪ テスト.mp3"}, {"曲 ♪ テスト.mp3"}},
      {"name_not_utf8", {"\xff\xfe.mp3"}, {"\xff\xfe.mp3"}},
      {"dash_is_a_name_too", {"-v.mp3"}, {"-v.mp3"}},
      {"relative_through_parent", {"../files/a.mp3"}, {"a.mp3"}},
  };
}

class ArgumentTest : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTest, OnlyASingleNonEmptyArgumentIsRepaired) {
  TempDir dir;
  const fs::path files = dir / "files";
  fs::create_directory(files);
  for (const std::string& name : kFileNames) WriteFile(files / name, kMislabelled);

  ExpectQuietSuccess(RunTool(GetParam().arguments, {.working_directory = files}));
  for (const std::string& name : kFileNames) {
    const auto& repaired = GetParam().repaired;
    const bool expected = std::find(repaired.begin(), repaired.end(), name) != repaired.end();
    EXPECT_EQ(ReadFile(files / name), expected ? kRepaired : kMislabelled) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLines, ArgumentTest, testing::ValuesIn(ArgumentCases()),
                         [](const auto& case_info) { return case_info.param.name; });

}  // namespace
}  // namespace test
