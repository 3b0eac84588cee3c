// What the tool must make of a file's bytes, for every build of it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace test {

struct FileCase {
  std::string name;
  std::string before;
  std::string after;
};

// Test names carry the case; gtest need not print its bytes.
inline void PrintTo(const FileCase& value, std::ostream* out) { *out << value.name; }

// A plausible rest of a tag and some audio, every byte value in it, so a
// stray write past byte 3 cannot go unseen.
inline std::string TagBody() {
  std::string body("\x00\x00\x00\x00\x02\x01TIT2\x00\x00\x00\x06\x00\x00\x00Title", 21);
  for (int i = 0; i < 4096; ++i) body += static_cast<char>((i * 7 + 3) % 256);
  return body;
}

// A whole file stamped 4, and what the repair makes of it.
inline std::string MislabelledTag() { return std::string("ID3\x04") + TagBody(); }
inline std::string RepairedTag() { return std::string("ID3\x03") + TagBody(); }

inline std::vector<FileCase> FileCases() {
  using namespace std::string_literals;
  const std::string body = TagBody();
  const auto unchanged = [](std::string name, std::string bytes) {
    return FileCase{std::move(name), bytes, bytes};
  };
  return {
      {"stamped_4", "ID3\x04"s + body, "ID3\x03"s + body},
      {"stamped_2", "ID3\x02"s + body, "ID3\x03"s + body},
      {"stamped_255", "ID3\xff"s + body, "ID3\x03"s + body},
      {"stamped_0", "ID3\x00"s + body, "ID3\x03"s + body},
      {"already_3", "ID3\x03"s + body, "ID3\x03"s + body},
      {"exactly_four_bytes", "ID3\x04"s, "ID3\x03"s},
      unchanged("lower_case_id3", "id3\x04"s + body),
      unchanged("mixed_case_Id3", "Id3\x04"s + body),
      unchanged("near_miss_ID4", "ID4\x04"s + body),
      unchanged("mpeg_audio", "\xff\xfb\x90\x00"s + body),
      unchanged("tag_after_a_byte", "\x00ID3\x04"s + body),
      unchanged("tag_after_data", "RIFF\x24\x00\x00\x00WAVEid3 ID3\x04"s + body),
      unchanged("tag_at_end", body + "ID3\x04"s),
      unchanged("empty", ""),
      unchanged("one_byte", "I"),
      unchanged("two_bytes", "ID"),
      // The three letters alone are no tag: the file must not grow a byte.
      unchanged("three_bytes_ID3", "ID3"),
  };
}

}  // namespace test
