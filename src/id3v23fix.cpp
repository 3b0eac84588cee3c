// id3v23fix PATH: relabels the ID3v2 tag at the start of PATH as version
// 2.3, for tags that are laid out as 2.3 but stamped with another version.
// Only the first four bytes of the file are read and written.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "rtl/classes.h"
#include "rtl/system.h"

namespace {

// The start of an ID3v2 tag header: the identifier "ID3", then the major
// version, the one byte this program changes.
constexpr std::array<std::uint8_t, 3> kTagIdentifier{0x49, 0x44, 0x33};
constexpr std::size_t kMajorVersion = 3;
constexpr std::uint8_t kVersion23 = 3;

}  // namespace

void ProgramMain() {
  std::array<std::uint8_t, 4> header{};

  if (rtl::ParamCount() != 1) return;
  const std::string path = rtl::ParamStr(1);

  rtl::TFileStream target(path, rtl::OpenMode::ReadWriteExclusive);
  // A file shorter than the four bytes holds no tag, and must not grow one.
  const bool whole_header = target.Read(header) == header.size();
  const bool starts_with_tag =
      std::equal(kTagIdentifier.begin(), kTagIdentifier.end(), header.begin());
  if (whole_header && starts_with_tag) {
    header[kMajorVersion] = kVersion23;
    target.SetPosition(0);
    target.WriteBuffer(header);
  }
  target.Close();
}
