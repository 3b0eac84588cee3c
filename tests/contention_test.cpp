// Many runs at once: on one file, where all but the run that holds it must
// be refused cleanly, and on many files, which must not disturb each other.
// Whatever the interleaving, no run hangs, each ends with 0 or with 1 and
// the open-failure report, and every file ends as exactly its repair.

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/file_cases.h"
#include "tests/support.h"

namespace test {
namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 200;
constexpr auto kDeadline = std::chrono::seconds(60);

struct Started {
  pid_t pid = -1;
  fs::path target;
  fs::path out;  // where its standard output went
  fs::path err;  // and its standard error
  int exit_status = -1;
};

// Starts the tool on `target` without waiting, its output into files.
Started StartTool(const fs::path& target, const fs::path& output_stem) {
  Started run{-1, target, output_stem.string() + ".out", output_stem.string() + ".err"};
  run.pid = StartCommand({ToolPath(), target.string()}, run.out, run.err);
  return run;
}

// Waits for every run until the deadline; those still going are killed
// and keep exit status -1.
void WaitForAll(std::vector<Started>& runs) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  std::size_t left = runs.size();
  while (left > 0 && std::chrono::steady_clock::now() < deadline) {
    for (Started& run : runs) {
      if (run.pid < 0) continue;
      int status = 0;
      if (waitpid(run.pid, &status, WNOHANG) != run.pid) continue;
      run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      run.pid = -1;
      --left;
    }
    if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (Started& run : runs) {
    if (run.pid < 0) continue;
    kill(run.pid, SIGKILL);
    waitpid(run.pid, nullptr, 0);
    run.pid = -1;
  }
}

// 0 and silent, or 1 with the open-failure report; nothing else.
void ExpectCleanEnd(const Started& run) {
  EXPECT_EQ(ReadFile(run.out), "");
  if (run.exit_status == 0) {
    EXPECT_EQ(ReadFile(run.err), "");
  } else {
    EXPECT_EQ(run.exit_status, 1) << "-1: it hung, or died by a signal";
    EXPECT_EQ(WithCodeAddressMasked(ReadFile(run.err)), ExpectedOpenFailure(run.target.string()));
  }
}

TEST(Contention, ManyRunsOnOneFileLeaveItsRepairAndNothingElse) {
  TempDir dir;
  const fs::path song = dir / "song.mp3";
  WriteFile(song, MislabelledTag());

  std::vector<Started> runs;
  for (int i = 0; i < kRuns; ++i)
    runs.push_back(StartTool(song, dir / ("run" + std::to_string(i))));
  WaitForAll(runs);

  int repaired = 0;
  for (const Started& run : runs) {
    ExpectCleanEnd(run);
    if (run.exit_status == 0) ++repaired;
  }
  EXPECT_GE(repaired, 1);
  EXPECT_EQ(ReadFile(song), RepairedTag());  // length included
}

TEST(Contention, RunsOnManyFilesAtOnceEachRepairTheirOwn) {
  TempDir dir;
  std::vector<Started> runs;
  for (int i = 0; i < kRuns; ++i) {
    const fs::path song = dir / ("song" + std::to_string(i) + ".mp3");
    WriteFile(song, MislabelledTag());
    runs.push_back(StartTool(song, dir / ("run" + std::to_string(i))));
  }
  WaitForAll(runs);

  for (const Started& run : runs) {
    ExpectCleanEnd(run);
    // A run refused (by a passing scan, say) leaves its file as it was.
    EXPECT_EQ(ReadFile(run.target), run.exit_status == 0 ? RepairedTag() : MislabelledTag())
        << run.target;
  }
}

}  // namespace
}  // namespace test
