// id3v23scan [-0] [-r] PATH...: tells, for each file, whether its ID3v2
// tag is laid out as v2.3 but labelled otherwise, the one case that
// id3v23fix repairs. Reads, never writes.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "rtl/report.h"
#include "src/scan/tag_file.h"
#include "src/scan/tag_layout.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUsage = "usage: id3v23scan [-0] [-r] PATH...\n";

struct Options {
  bool nul_separated_mislabelled = false;  // -0
  bool recursive = false;                  // -r
  std::vector<std::string> paths;
};

// Tells what it found on standard output; remembers whether any path failed.
class Listing {
 public:
  explicit Listing(bool nul_separated) : nul_separated_(nul_separated) {}

  void File(const std::string& path, const scan::Analysis& analysis) {
    if (nul_separated_) {
      if (analysis.verdict != scan::Verdict::kMislabelled) return;
      std::fwrite(path.data(), 1, path.size(), stdout);
      std::fputc('\0', stdout);
      return;
    }
    const std::string label = analysis.label ? std::to_string(*analysis.label) : "-";
    Line(scan::VerdictName(analysis.verdict), label, analysis.layout, path);
  }

  void Unreadable(const std::string& path, std::string_view reason) {
    failed_ = true;
    if (nul_separated_) {
      std::fprintf(stderr, "id3v23scan: %s: %.*s\n", rtl::EscapeForDisplay(path).c_str(),
                   static_cast<int>(reason.size()), reason.data());
    } else {
      Line("unreadable", "-", reason, path);
    }
  }

  bool Failed() const { return failed_; }

 private:
  // A path is shown escaped, so that one line is one file; -0 gives it exact.
  static void Line(std::string_view verdict, std::string_view label, std::string_view layout,
                   const std::string& path) {
    const std::string shown = rtl::EscapeForDisplay(path);
    // cppcheck 2.10 takes `label` for the caller's string, gone by now; it is
    // this call's own view of it, alive for the call.
    std::printf("%.*s\t%.*s\t%.*s\t%s\n", static_cast<int>(verdict.size()), verdict.data(),
                // cppcheck-suppress invalidLifetime
                static_cast<int>(label.size()), label.data(), static_cast<int>(layout.size()),
                layout.data(), shown.c_str());
  }

  bool nul_separated_;
  bool failed_ = false;
};

void ScanFile(const std::string& path, Listing& listing) {
  const scan::TagFile file = scan::ReadTagFile(path);
  if (!file.error.empty()) {
    listing.Unreadable(path, file.error);
  } else {
    listing.File(path, scan::AnalyseTag(file.start));
  }
}

// Walks `folder` in name order. Links are not followed into folders; a
// link to a file is scanned. FIFOs, sockets and devices are passed over.
void ScanFolder(const fs::path& folder, Listing& listing) {
  std::error_code error;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(*it);
  }
  if (error) {
    listing.Unreadable(folder.string(), error.message());
    return;
  }
  std::sort(entries.begin(), entries.end());
  for (const fs::directory_entry& entry : entries) {
    const fs::file_status own = entry.symlink_status(error);
    if (error) {
      listing.Unreadable(entry.path().string(), error.message());
    } else if (fs::is_directory(own)) {
      ScanFolder(entry.path(), listing);
    } else if (fs::is_symlink(own)) {
      const fs::file_status target = fs::status(entry.path(), error);
      if (fs::is_regular_file(target) || !fs::exists(target))
        ScanFile(entry.path().string(), listing);
    } else if (fs::is_regular_file(own)) {
      ScanFile(entry.path().string(), listing);
    }
  }
}

void ScanPath(const std::string& path, bool recursive, Listing& listing) {
  std::error_code error;
  if (recursive && fs::is_directory(path, error)) {
    ScanFolder(path, listing);
  } else {
    ScanFile(path, listing);
  }
}

// Options come first, alone or together ("-0r"); "--" ends them.
bool ParseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") {
      ++i;
      break;
    }
    if (argument.size() < 2 || argument[0] != '-') break;
    for (const char letter : argument.substr(1)) {
      if (letter == '0') {
        options.nul_separated_mislabelled = true;
      } else if (letter == 'r') {
        options.recursive = true;
      } else {
        std::fprintf(stderr, "id3v23scan: unknown option -%c\n", letter);
        return false;
      }
    }
  }
  options.paths.assign(argv + i, argv + argc);
  return !options.paths.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage.data(), stderr);
    return 2;
  }
  Listing listing(options.nul_separated_mislabelled);
  for (const std::string& path : options.paths) ScanPath(path, options.recursive, listing);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::perror("id3v23scan: standard output");
    return 1;
  }
  return listing.Failed() ? 1 : 0;
}
