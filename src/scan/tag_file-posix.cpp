#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "src/scan/tag_file.h"
#include "src/scan/tag_layout.h"

namespace scan {

namespace {

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path)
      : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {}
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile() {
    if (fd_ >= 0) close(fd_);
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Reads `size` bytes at `offset` onto the end of `out`, fewer at the end of
// the file. False, with errno, when a read fails.
bool AppendAt(int fd, std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>& out) {
  const std::size_t start = out.size();
  out.resize(start + size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t count =
        pread(fd, out.data() + start + done, size - done, static_cast<off_t>(offset + done));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) break;
    done += static_cast<std::size_t>(count);
  }
  out.resize(start + done);
  return true;
}

TagFile Failure(int error) { return {{}, std::strerror(error)}; }

}  // namespace

TagFile ReadTagFile(const std::string& path) {
  const ReadOnlyFile file(path);
  if (file.Get() < 0) return Failure(errno);
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) return Failure(errno);
  if (S_ISDIR(status.st_mode)) return Failure(EISDIR);
  if (!S_ISREG(status.st_mode)) return {{}, "Not a regular file"};

  TagFile tag;
  if (!AppendAt(file.Get(), 0, kHeaderSize, tag.start)) return Failure(errno);
  const std::uint64_t held = static_cast<std::uint64_t>(status.st_size);
  const std::uint64_t claimed = ClaimedTagBytes(tag.start).value_or(0);
  const std::uint64_t wanted = std::min(claimed, held > kHeaderSize ? held - kHeaderSize : 0);
  if (!AppendAt(file.Get(), kHeaderSize, static_cast<std::size_t>(wanted), tag.start)) {
    return Failure(errno);
  }
  return tag;
}

}  // namespace scan
