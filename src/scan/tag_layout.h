// Deciding from an ID3v2 tag's own bytes how its frames are laid out.
//
// A v2.3 tag stores frame sizes as plain 32-bit numbers, a v2.4 tag as
// synchsafe ones (seven bits a byte). Walking the frames both ways tells
// which reading holds together: a clean walk steps from frame to frame on
// valid IDs and ends exactly at the padding or at the tag's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace scan {

inline constexpr std::size_t kHeaderSize = 10;

enum class Verdict {
  kMislabelled,  // laid out as v2.3, labelled otherwise: the repair fixes it
  kOk,           // label and layout agree
  kEither,       // labelled 4, and both readings give the same frames
  kUnclear,      // no reading holds together, or none the repair would fix
  kNoTag,        // no ID3v2 header at the start
};

std::string_view VerdictName(Verdict verdict);

struct Analysis {
  Verdict verdict = Verdict::kNoTag;
  std::optional<std::uint8_t> label;  // the major version byte, when there is a tag
  // "2.2", "2.3", "2.4", "2.3/2.4" (both readings agree), "?" or "-".
  std::string_view layout = "-";
};

// How many bytes after the ten-byte header hold the tag and its footer, as
// the header claims; nothing when `header` is no ID3v2 header. A caller
// reads at most this much, and no more than the file holds.
std::optional<std::uint64_t> ClaimedTagBytes(std::span<const std::uint8_t> header);

// The verdict on a file that starts with `file_start`: its header and as
// much of the claimed tag as the file holds (any bytes at all will do).
Analysis AnalyseTag(std::span<const std::uint8_t> file_start);

}  // namespace scan
