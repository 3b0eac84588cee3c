// Any bytes as the start of a file through the scanner's tag walk: no
// crash, no undefined behaviour, a verdict that agrees with the header.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "src/scan/tag_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const scan::Analysis analysis = scan::AnalyseTag(bytes);
  const bool has_header = scan::ClaimedTagBytes(bytes).has_value();
  if ((analysis.verdict == scan::Verdict::kNoTag) == has_header) std::abort();
  if (analysis.verdict != scan::Verdict::kNoTag && !analysis.label) std::abort();
  return 0;
}
