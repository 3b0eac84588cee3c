// The Windows executable under Wine: the same file cases as the native
// build, exact command lines, sharing, and the report's message box, each
// run started by a Windows helper with CreateProcessW.

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/file_cases.h"
#include "tests/support.h"

namespace test {
namespace {

namespace fs = std::filesystem;

const std::string kMislabelled = MislabelledTag();
const std::string kRepaired = RepairedTag();
const std::string kReportTitle = "アプリケーション エラー";

// Where the Windows build and the test session are; empty when absent.
struct WineSetup {
  fs::path tool = ID3V23FIX_WINDOWS_TOOL_PATH;
  fs::path launcher = ID3V23FIX_WINDOWS_LAUNCHER_PATH;
  fs::path state = ID3V23FIX_WINE_STATE_DIR;
};

// Why the Windows tests cannot run here, or "" when they can. The first
// call points this process's environment, and so every wine started from
// it, at the session the test fixture started.
std::string WhyNoWine() {
  static const std::string reason = [] {
    const WineSetup setup;
    if (setup.tool.empty()) return std::string("no Windows build: mingw-w64 is not installed");
    if (!HaveCommand("wine")) return std::string("wine is not installed");
    std::ifstream display_file(setup.state / "display");
    std::string display;
    if (!(display_file >> display)) return std::string("no Wine session (Xvfb) was started");
    setenv("DISPLAY", (":" + display).c_str(), 1);
    setenv("WINEPREFIX", (setup.state / "prefix").c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    return std::string();
  }();
  return reason;
}

#define SKIP_WITHOUT_WINE()                                  \
  do {                                                       \
    if (const std::string why = WhyNoWine(); !why.empty()) { \
      GTEST_SKIP() << why;                                   \
    }                                                        \
  } while (false)

// The name Wine gives a path of this machine's: its drive Z: is the root.
std::string WindowsPath(const fs::path& path) {
  std::string name = "Z:" + fs::absolute(path).string();
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.append(1, '"').append(text).append(1, '"');
  return quoted;
}

std::string ToolCommand() { return Quoted(WindowsPath(WineSetup().tool)); }

struct MessageBox {
  std::string title;
  std::string text;
  std::vector<std::string> buttons;  // "ID TEXT"
  bool icon = false;
};

struct Launch {
  int exit_status = -1;  // the tool's; -1 when it did not end
  std::optional<MessageBox> box;
  std::string wine_errors;
};

std::string Unescaped(std::string_view escaped) {
  std::string text;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\' || i + 1 == escaped.size()) {
      text += escaped[i];
      continue;
    }
    const char next = escaped[++i];
    text += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
  }
  return text;
}

Launch ParseLaunch(const RunResult& run) {
  Launch launch;
  launch.wine_errors = run.err;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const auto colon = line.find(": ");
    if (colon == line.npos) continue;
    const std::string key = line.substr(0, colon);
    const std::string value = Unescaped(line.substr(colon + 2));
    if (key.starts_with("box-") && !launch.box) launch.box.emplace();
    if (key == "box-title") launch.box->title = value;
    if (key == "box-text") launch.box->text = value;
    if (key == "box-button") launch.box->buttons.push_back(value);
    if (key == "box-icon") launch.box->icon = value == "yes";
    if (key == "exit") launch.exit_status = std::stoi(value);
  }
  return launch;
}

struct LaunchOptions {
  std::vector<std::string> launcher_options{};  // --hold MODE PATH, --serve-pipe NAME
  std::vector<std::string> environment{};       // NAME=VALUE for wine and all it starts
  std::vector<std::string> wrapper{};           // a command that runs wine, e.g. strace
};

// Starts the tool with exactly `command_line` (UTF-8), as Windows would.
Launch LaunchExactly(const std::string& command_line, const LaunchOptions& options = {}) {
  TempDir scratch;
  const fs::path line_file = scratch / "command-line.txt";
  WriteFile(line_file, command_line);
  std::vector<std::string> argv = options.wrapper;
  argv.push_back("env");
  argv.insert(argv.end(), options.environment.begin(), options.environment.end());
  argv.insert(argv.end(), {"wine", WineSetup().launcher.string()});
  argv.insert(argv.end(), options.launcher_options.begin(), options.launcher_options.end());
  argv.push_back(WindowsPath(line_file));
  const RunResult run = RunCommand(argv, {.timeout = std::chrono::seconds(60)});
  EXPECT_EQ(run.exit_status, 0) << "the launcher failed: " << run.err;
  return ParseLaunch(run);
}

Launch LaunchOn(const std::string& windows_path, const LaunchOptions& options = {}) {
  return LaunchExactly(ToolCommand() + " " + Quoted(windows_path), options);
}

std::string ExpectedBoxText(std::string_view shown_path) {
  return ExpectedReportText("EFOpenError", "id3v23fix.exe", OpenFailureMessage(shown_path), "\r\n");
}

void ExpectQuietSuccess(const Launch& launch) {
  EXPECT_EQ(launch.exit_status, 0);
  EXPECT_FALSE(launch.box.has_value()) << launch.box->text;
}

void ExpectOpenFailureBox(const Launch& launch, std::string_view shown_path) {
  EXPECT_EQ(launch.exit_status, 1);
  ASSERT_TRUE(launch.box.has_value()) << "no message box";
  EXPECT_EQ(launch.box->title, kReportTitle);
  EXPECT_EQ(WithCodeAddressMasked(launch.box->text), ExpectedBoxText(shown_path));
}

// ---------------------------------------------------------------------------
// The files: the one table both builds answer to.

class WindowsFileCaseTest : public testing::TestWithParam<FileCase> {};

TEST_P(WindowsFileCaseTest, LeavesExactlyTheExpectedBytes) {
  SKIP_WITHOUT_WINE();
  TempDir dir;
  const fs::path file = dir / "song.mp3";
  WriteFile(file, GetParam().before);

  ExpectQuietSuccess(LaunchOn(WindowsPath(file)));
  EXPECT_EQ(ReadFile(file), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Files, WindowsFileCaseTest, testing::ValuesIn(FileCases()),
                         [](const auto& case_info) { return case_info.param.name; });

// ---------------------------------------------------------------------------
// Refusals: the report's box, exit status 1, and the file as it was.

struct WindowsRefusal {
  std::string name;
  // Makes what the tool is pointed at in `dir`; returns the path to give
  // it, and sets what the launcher must hold meanwhile.
  std::function<std::string(const TempDir& dir, LaunchOptions& options)> make;
};

inline void PrintTo(const WindowsRefusal& value, std::ostream* out) { *out << value.name; }

fs::path MislabelledSong(const TempDir& dir) {
  const fs::path file = dir / "song.mp3";
  WriteFile(file, kMislabelled);
  return file;
}

WindowsRefusal HeldOpen(std::string name, std::string mode) {
  return {std::move(name), [mode](const TempDir& dir, LaunchOptions& options) {
            const std::string file = WindowsPath(MislabelledSong(dir));
            options.launcher_options = {"--hold", mode, file};
            return file;
          }};
}

std::vector<WindowsRefusal> WindowsRefusals() {
  return {
      {"missing_file", [](const TempDir& dir, auto&) { return WindowsPath(dir / "missing.mp3"); }},
      {"directory",
       [](const TempDir& dir, auto&) {
         fs::create_directory(dir / "folder");
         return WindowsPath(dir / "folder");
       }},
      {"read_only_file",
       [](const TempDir& dir, auto&) {
         const fs::path file = MislabelledSong(dir);
         fs::permissions(file, fs::perms(0444));
         return WindowsPath(file);
       }},
      {"invalid_name",
       [](const TempDir& dir, auto&) { return WindowsPath(dir.Path()) + "\\a<b>.mp3"; }},
      {"nul_device", [](const TempDir&, auto&) { return std::string("NUL"); }},
      {"console", [](const TempDir&, auto&) { return std::string("CONOUT$"); }},
      {"unix_device", [](const TempDir&, auto&) { return WindowsPath("/dev/null"); }},
      {"named_pipe",
       [](const TempDir&, LaunchOptions& options) {
         options.launcher_options = {"--serve-pipe", "id3v23fix-test"};
         return std::string("\\\\.\\pipe\\id3v23fix-test");
       }},
      HeldOpen("held_open_for_reading", "r"),
      HeldOpen("held_open_for_writing", "w"),
      HeldOpen("held_open_for_both", "rw"),
  };
}

class WindowsRefusalTest : public testing::TestWithParam<WindowsRefusal> {};

TEST_P(WindowsRefusalTest, ShowsTheOpenFailureAndChangesNothing) {
  SKIP_WITHOUT_WINE();
  TempDir dir;
  LaunchOptions options;
  const std::string target = GetParam().make(dir, options);

  ExpectOpenFailureBox(LaunchOn(target, options), target);
  if (fs::exists(dir / "song.mp3")) {
    EXPECT_EQ(ReadFile(dir / "song.mp3"), kMislabelled);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, WindowsRefusalTest, testing::ValuesIn(WindowsRefusals()),
                         [](const auto& case_info) { return case_info.param.name; });

// ---------------------------------------------------------------------------
// Exact command lines. {exe} is the tool, quoted; {dir} the folder of files.

struct CommandLineCase {
  std::string name;
  std::string line;
  std::vector<std::string> repaired;  // of the files below; the rest stay
};

inline void PrintTo(const CommandLineCase& value, std::ostream* out) { *out << value.name; }

// "🎵 노래" is in no ANSI code page: only the wide API can name it.
const std::vector<std::string> kSongs{"a.mp3",    "b.mp3",         "my song.mp3", "my",
                                      "song.mp3", "sub dir/a.mp3", "🎵 노래.mp3"};

std::vector<CommandLineCase> CommandLineCases() {
  return {
      {"no_argument", "{exe}", {}},
      {"quoted_path_with_blank", "{exe} \"{dir}\\my song.mp3\"", {"my song.mp3"}},
      {"unquoted_blank_makes_two", "{exe} {dir}\\my song.mp3", {}},
      {"two_paths", "{exe} \"{dir}\\a.mp3\" \"{dir}\\b.mp3\"", {}},
      {"empty_pair_before", "{exe} \"\" \"{dir}\\a.mp3\"", {"a.mp3"}},
      {"empty_pair_after", "{exe} \"{dir}\\a.mp3\" \"\"", {"a.mp3"}},
      {"empty_pair_alone", "{exe} \"\"", {}},
      {"quotes_inside_an_argument", "{exe} {dir}\\my\" \"song.mp3", {"my song.mp3"}},
      {"quote_never_closed", "{exe} \"{dir}\\my song.mp3", {"my song.mp3"}},
      // A backslash escapes nothing: the quote after it closes the stretch.
      {"backslash_before_quote", "{exe} \"{dir}\\sub dir\\\"a.mp3", {"sub dir/a.mp3"}},
      {"tab_separates", "{exe}\t\"{dir}\\a.mp3\"", {"a.mp3"}},
      {"name_in_no_code_page", "{exe} \"{dir}\\🎵 노래.mp3\"", {"🎵 노래.mp3"}},
  };
}

std::string Expanded(std::string line, const std::string& exe, const std::string& dir) {
  for (const auto& [field, value] : {std::pair{std::string("{exe}"), exe}, {"{dir}", dir}}) {
    for (auto at = line.find(field); at != line.npos; at = line.find(field, at + value.size())) {
      line.replace(at, field.size(), value);
    }
  }
  return line;
}

class CommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, OnlyASingleArgumentIsRepaired) {
  SKIP_WITHOUT_WINE();
  TempDir dir;
  fs::create_directory(dir / "sub dir");
  for (const std::string& song : kSongs) WriteFile(dir / song, kMislabelled);

  ExpectQuietSuccess(
      LaunchExactly(Expanded(GetParam().line, ToolCommand(), WindowsPath(dir.Path()))));
  for (const std::string& song : kSongs) {
    const auto& repaired = GetParam().repaired;
    const bool expected = std::find(repaired.begin(), repaired.end(), song) != repaired.end();
    EXPECT_EQ(ReadFile(dir / song), expected ? kRepaired : kMislabelled) << song;
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, CommandLineTest, testing::ValuesIn(CommandLineCases()),
                         [](const auto& case_info) { return case_info.param.name; });

// ---------------------------------------------------------------------------
// The message box itself.

TEST(ReportBox, IsTaskModalWithAStopIconAndOneOkButton) {
  SKIP_WITHOUT_WINE();
  TempDir dir;
  const std::string missing = WindowsPath(dir / "missing.mp3");
  // Wine's relay trace, narrowed to MessageBoxW by the session, shows the
  // call as the program made it: owner, text, title, style.
  const Launch launch = LaunchOn(missing, {.environment = {"WINEDEBUG=-all,+relay"}});

  ExpectOpenFailureBox(launch, missing);
  ASSERT_TRUE(launch.box.has_value());
  EXPECT_EQ(launch.box->buttons, std::vector<std::string>{"1 OK"});
  EXPECT_TRUE(launch.box->icon);
  static const std::regex kCall(
      R"(Call user32\.MessageBoxW\((\w{8}),\w{8} L".*",\w{8} L".*",(\w{8})\))");
  std::smatch call;
  ASSERT_TRUE(std::regex_search(launch.wine_errors, call, kCall)) << launch.wine_errors;
  EXPECT_EQ(call[1], "00000000");  // no owner window
  // MB_TASKMODAL | MB_ICONSTOP | MB_OK
  EXPECT_EQ(call[2], "00002010");
}

TEST(ReportBox, NamesTheFileLayerAsTheRaiseSite) {
  SKIP_WITHOUT_WINE();
  TempDir dir;
  const Launch launch = LaunchOn(WindowsPath(dir / "missing.mp3"));
  ASSERT_TRUE(launch.box.has_value());
  std::smatch shown;
  ASSERT_TRUE(std::regex_search(launch.box->text, shown, std::regex(" の ([0-9A-F]{8}) で発生")));
  const std::uintptr_t offset = std::stoul(shown[1], nullptr, 16);

  // The linker's map: the image's base, and where each object's code lies.
  std::ifstream map(WineSetup().tool.parent_path() / "id3v23fix.map");
  ASSERT_TRUE(map) << "no linker map beside the executable";
  std::uintptr_t base = 0;
  std::uintptr_t start = 0;
  std::uintptr_t size = 0;
  static const std::regex kBase(R"(^\s+0x([0-9a-f]+)\s+__image_base__ = )");
  static const std::regex kCode(
      R"(^ \.text\s+0x([0-9a-f]+)\s+0x([0-9a-f]+) .*\(classes-win32\.cpp\.obj\))");
  for (std::string line; std::getline(map, line);) {
    std::smatch match;
    if (std::regex_search(line, match, kBase)) base = std::stoul(match[1], nullptr, 16);
    if (std::regex_search(line, match, kCode)) {
      start = std::stoul(match[1], nullptr, 16);
      size = std::stoul(match[2], nullptr, 16);
    }
  }
  ASSERT_NE(base, 0U);
  ASSERT_NE(size, 0U);
  EXPECT_GE(base + offset, start);
  EXPECT_LT(base + offset, start + size);
}

// A failure after the open is reported too (the second mend). Wine gives
// a real one: /proc/self/mem is a regular, writable file whose offset 0,
// an address nothing is mapped at, cannot be read.
TEST(ReportBox, TellsAReadThatFailsAfterTheOpen) {
  SKIP_WITHOUT_WINE();
  const std::string memory = WindowsPath("/proc/self/mem");
  const Launch launch = LaunchOn(memory);

  EXPECT_EQ(launch.exit_status, 1);
  ASSERT_TRUE(launch.box.has_value()) << "no message box";
  EXPECT_EQ(WithCodeAddressMasked(launch.box->text),
            ExpectedReportText("EReadError", "id3v23fix.exe",
                               "ファイル " + memory + " を読み込めません", "\r\n"));
}

TEST(ReportBox, CutsATextTooLongOnACharacterBoundary) {
  SKIP_WITHOUT_WINE();
  TempDir dir;
  std::string long_name = WindowsPath(dir.Path());
  while (long_name.size() < 1500) long_name += "\\曲";
  const Launch launch = LaunchOn(long_name);

  EXPECT_EQ(launch.exit_status, 1);
  ASSERT_TRUE(launch.box.has_value());
  const std::string& text = launch.box->text;
  const std::string full = ExpectedBoxText(long_name);
  EXPECT_LE(text.size(), 1023U);
  EXPECT_GE(text.size(), 1021U);  // no more than one three-byte character lost
  EXPECT_EQ(WithCodeAddressMasked(text), full.substr(0, text.size()));
}

// ---------------------------------------------------------------------------
// Nothing planted beside the executable is looked for: no language file
// of the user's locale, which the program's old run-time would load.
// (Wine's own loader does look there for system DLLs, which Windows takes
// from its own folder only; that is Wine's, not the program's, doing.)

TEST(Executable, LooksForNoFileBesideItself) {
  SKIP_WITHOUT_WINE();
  if (!HaveCommand("strace")) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  fs::copy_file(WineSetup().tool, dir / "id3v23fix.exe");
  const std::vector<std::string> planted{"id3v23fix.JPN", "id3v23fix.JA", "id3v23fix.ja-JP",
                                         "id3v23fix.ENU", "id3v23fix.EN", "id3v23fix.DE"};
  for (const std::string& name : planted) WriteFile(dir / name, "planted");
  const fs::path song = MislabelledSong(dir);
  TempDir scratch;
  const fs::path trace = scratch / "trace.txt";

  const Launch launch = LaunchExactly(
      Quoted(WindowsPath(dir / "id3v23fix.exe")) + " " + Quoted(WindowsPath(song)),
      {.wrapper = {"strace", "-f", "-qq", "-e", "trace=%file", "-o", trace.string()}});
  EXPECT_EQ(launch.exit_status, 0);
  EXPECT_EQ(ReadFile(song), kRepaired);
  const std::string calls = ReadFile(trace);
  EXPECT_NE(calls.find("song.mp3"), calls.npos) << "the trace saw no file names";
  for (const std::string& name : planted) EXPECT_EQ(calls.find(name), calls.npos) << name;
}

}  // namespace
}  // namespace test
