// Reading the start of a file: its ID3v2 header and, when there is one,
// the tag alone, never the audio after it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scan {

struct TagFile {
  std::vector<std::uint8_t> start;  // the header and as much of the tag as the file holds
  std::string error;                // the system's reason, when it could not be read
};

// Opens `path` only when it is an ordinary file, so that a FIFO or a
// device is never waited on or read.
TagFile ReadTagFile(const std::string& path);

}  // namespace scan
