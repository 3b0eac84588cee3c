#include "src/scan/tag_layout.h"

#include <algorithm>
#include <string>
#include <vector>

namespace scan {

namespace {

using Bytes = std::span<const std::uint8_t>;

namespace flag {
constexpr std::uint8_t kUnsynchronisation = 0x80;
constexpr std::uint8_t kExtendedHeader = 0x40;
constexpr std::uint8_t kCompressionIn22 = 0x40;
constexpr std::uint8_t kFooter = 0x10;  // v2.4 only
constexpr std::uint8_t kUndefinedIn23 = 0x1F;
constexpr std::uint8_t kUndefinedIn24 = 0x0F;
constexpr std::uint8_t kUndefinedIn22 = 0x3F;
}  // namespace flag

constexpr std::size_t kFooterSize = 10;

std::uint32_t PlainNumber(Bytes bytes) {
  std::uint32_t number = 0;
  for (const std::uint8_t byte : bytes) number = number << 8 | byte;
  return number;
}

std::optional<std::uint32_t> SynchsafeNumber(Bytes bytes) {
  std::uint32_t number = 0;
  for (const std::uint8_t byte : bytes) {
    if (byte & 0x80) return std::nullopt;
    number = number << 7 | byte;
  }
  return number;
}

bool AllZero(Bytes bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0; });
}

bool IsFrameId(Bytes id) {
  return std::all_of(id.begin(), id.end(), [](std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// v2.2 and v2.3 undo whole-tag unsynchronisation this way: every 0xFF 0x00
// stored stands for a 0xFF.
std::vector<std::uint8_t> Resynchronised(Bytes stored) {
  std::vector<std::uint8_t> data;
  data.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    data.push_back(stored[i]);
    if (stored[i] == 0xFF && i + 1 < stored.size() && stored[i + 1] == 0x00) ++i;
  }
  return data;
}

struct FrameFormat {
  std::size_t id_size;
  std::size_t size_size;
  bool synchsafe_sizes;
  std::size_t HeaderSize() const { return id_size + size_size + (id_size == 4 ? 2 : 0); }
};

constexpr FrameFormat kFrames22{3, 3, false};
constexpr FrameFormat kFrames23{4, 4, false};
constexpr FrameFormat kFrames24{4, 4, true};

struct Frame {
  std::string id;
  std::uint32_t size;
  bool operator==(const Frame&) const = default;
};

struct Walk {
  bool clean = false;
  std::vector<Frame> frames;
};

// Steps from frame to frame through `region`, the tag after its extended
// header. Each step passes at least one header and one byte, so the walk
// ends within region.size() / 7 steps.
Walk WalkFrames(Bytes region, const FrameFormat& format) {
  Walk walk;
  std::size_t at = 0;
  while (region.size() - at >= format.HeaderSize()) {
    const Bytes id = region.subspan(at, format.id_size);
    if (id[0] == 0) break;  // the padding
    if (!IsFrameId(id)) return walk;
    const Bytes size_bytes = region.subspan(at + format.id_size, format.size_size);
    const std::optional<std::uint32_t> size =
        format.synchsafe_sizes ? SynchsafeNumber(size_bytes) : PlainNumber(size_bytes);
    const std::size_t room = region.size() - at - format.HeaderSize();
    if (!size || *size == 0 || *size > room) return walk;  // overshoots the tag
    walk.frames.push_back({std::string(id.begin(), id.end()), *size});
    at += format.HeaderSize() + *size;
  }
  walk.clean = AllZero(region.subspan(at));
  return walk;
}

// The walk as v2.3 reads the tag: whole-tag unsynchronisation, an extended
// header whose size leaves itself out, plain frame sizes.
Walk WalkAs23(std::uint8_t flags, Bytes body) {
  if (flags & flag::kUndefinedIn23) return {};
  std::vector<std::uint8_t> data(body.begin(), body.end());
  if (flags & flag::kUnsynchronisation) data = Resynchronised(body);
  Bytes region(data);
  if (flags & flag::kExtendedHeader) {
    if (region.size() < 4) return {};
    const std::uint32_t size = PlainNumber(region.first(4));
    if ((size != 6 && size != 10) || region.size() < 4 + size) return {};
    region = region.subspan(4 + size);
  }
  return WalkFrames(region, kFrames23);
}

// The walk as v2.4 reads the tag: unsynchronisation is per frame and does
// not change sizes, the extended header's size counts itself, frame sizes
// are synchsafe, and a footer may follow the tag.
Walk WalkAs24(std::uint8_t flags, Bytes body, Bytes after_body) {
  if (flags & flag::kUndefinedIn24) return {};
  if (flags & flag::kFooter) {
    if (after_body.size() < kFooterSize || after_body[0] != '3' || after_body[1] != 'D' ||
        after_body[2] != 'I') {
      return {};
    }
  }
  Bytes region = body;
  if (flags & flag::kExtendedHeader) {
    if (region.size() < 6) return {};
    const std::optional<std::uint32_t> size = SynchsafeNumber(region.first(4));
    if (!size || *size < 6 || *size > region.size()) return {};
    region = region.subspan(*size);
  }
  return WalkFrames(region, kFrames24);
}

Walk WalkAs22(std::uint8_t flags, Bytes body) {
  // No compression scheme was ever defined: a compressed tag cannot be read.
  if (flags & (flag::kCompressionIn22 | flag::kUndefinedIn22)) return {};
  if (flags & flag::kUnsynchronisation) return WalkFrames(Resynchronised(body), kFrames22);
  return WalkFrames(body, kFrames22);
}

bool StartsWithTagHeader(Bytes file_start) {
  return file_start.size() >= kHeaderSize && file_start[0] == 'I' && file_start[1] == 'D' &&
         file_start[2] == '3';
}

Analysis Judge(std::uint8_t label, const Walk& as23, const Walk& as24) {
  const bool both = as23.clean && as24.clean;
  const bool same = both && as23.frames == as24.frames;
  switch (label) {
    case 3:
      if (as23.clean) return {Verdict::kOk, label, same ? "2.3/2.4" : "2.3"};
      return {Verdict::kUnclear, label, as24.clean ? "2.4" : "?"};  // 2.4 labelled 3: not ours
    case 4:
      if (same) return {Verdict::kEither, label, "2.3/2.4"};
      if (as24.clean) return {Verdict::kOk, label, "2.4"};
      if (as23.clean) return {Verdict::kMislabelled, label, "2.3"};
      return {Verdict::kUnclear, label, "?"};
    default:  // a label no reader takes: relabelled 3, a 2.3 layout reads right
      if (same) return {Verdict::kMislabelled, label, "2.3/2.4"};
      if (both) return {Verdict::kUnclear, label, "?"};
      if (as23.clean) return {Verdict::kMislabelled, label, "2.3"};
      return {Verdict::kUnclear, label, as24.clean ? "2.4" : "?"};
  }
}

}  // namespace

std::string_view VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kMislabelled:
      return "mislabelled";
    case Verdict::kOk:
      return "ok";
    case Verdict::kEither:
      return "either";
    case Verdict::kUnclear:
      return "unclear";
    case Verdict::kNoTag:
      return "no-tag";
  }
  return "?";
}

std::optional<std::uint64_t> ClaimedTagBytes(Bytes header) {
  if (!StartsWithTagHeader(header)) return std::nullopt;
  const std::optional<std::uint32_t> size = SynchsafeNumber(header.subspan(6, 4));
  if (!size) return 0;  // nothing worth reading: see AnalyseTag
  return std::uint64_t{*size} + ((header[5] & flag::kFooter) ? kFooterSize : 0);
}

Analysis AnalyseTag(Bytes file_start) {
  if (!StartsWithTagHeader(file_start)) return {};
  const std::uint8_t label = file_start[3];
  const std::uint8_t flags = file_start[5];
  const std::optional<std::uint32_t> size = SynchsafeNumber(file_start.subspan(6, 4));
  const Bytes after_header = file_start.subspan(kHeaderSize);
  // A size that is no synchsafe number, or that the file cannot hold, is no
  // tag to walk: whatever a walk found in it would be luck.
  if (!size || *size > after_header.size()) return {Verdict::kUnclear, label, "?"};
  const Bytes body = after_header.first(*size);
  const Bytes after_body = after_header.subspan(*size);
  if (label == 2) {
    if (WalkAs22(flags, body).clean) return {Verdict::kOk, label, "2.2"};
    return {Verdict::kUnclear, label, "?"};
  }
  return Judge(label, WalkAs23(flags, body), WalkAs24(flags, body, after_body));
}

}  // namespace scan
