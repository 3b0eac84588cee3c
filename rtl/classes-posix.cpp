#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "rtl/classes.h"
#include "rtl/sysutils.h"

namespace rtl {

namespace {

int AsDescriptor(NativeHandle handle) { return static_cast<int>(handle); }

// Owns a descriptor until it is handed on.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool IsWritableRegularFile(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return false;
  // No write bit at all is a read-only file, for root too: as the read-only
  // attribute stops administrators on Windows.
  return S_ISREG(status.st_mode) && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// A write lease is granted only while no other descriptor is open on the
// file, and holds later opens back until we close. Where leases are not to
// be had (not the file's owner, a file system without them) that is no
// refusal: the lock below still keeps out every tool that locks.
bool OpenedElsewhere(int fd) {
  // Another open breaks the lease by signalling us; that must not end the run.
  signal(SIGIO, SIG_IGN);
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) return false;
  return errno == EAGAIN || errno == EBUSY;
}

bool LockedElsewhere(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return false;
  return errno == EWOULDBLOCK;
}

// O_NONBLOCK: a FIFO or a device must refuse, not hang the run.
int OpenExclusive(const std::string& file_name) {
  const int opened = open(file_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (opened < 0) RaiseFOpenError(file_name);
  Descriptor file(opened);
  if (!IsWritableRegularFile(file.Get()) || OpenedElsewhere(file.Get()) ||
      LockedElsewhere(file.Get())) {
    RaiseFOpenError(file_name);
  }
  return file.Release();
}

}  // namespace

std::size_t THandleStream::Read(std::span<std::uint8_t> buffer) {
  ssize_t count = 0;
  do {
    count =
        pread(AsDescriptor(handle_), buffer.data(), buffer.size(), static_cast<off_t>(position_));
  } while (count < 0 && errno == EINTR);
  if (count < 0) RaiseReadError(name_);
  position_ += static_cast<std::uint64_t>(count);
  return static_cast<std::size_t>(count);
}

void THandleStream::WriteBuffer(std::span<const std::uint8_t> buffer) {
  ssize_t count = 0;
  do {
    count =
        pwrite(AsDescriptor(handle_), buffer.data(), buffer.size(), static_cast<off_t>(position_));
  } while (count < 0 && errno == EINTR);
  if (count < 0 || static_cast<std::size_t>(count) != buffer.size()) RaiseWriteError(name_);
  position_ += buffer.size();
}

// Reads and writes name their offset, so there is nothing to move here.
void THandleStream::SetPosition(std::uint64_t position) { position_ = position; }

TFileStream::TFileStream(const std::string& file_name, OpenMode /*mode*/)
    : THandleStream(OpenExclusive(file_name), file_name) {}

TFileStream::~TFileStream() {
  if (open_) close(AsDescriptor(handle_));
}

void TFileStream::Close() {
  open_ = false;
  // Linux releases the descriptor even when close fails; never retry.
  if (close(AsDescriptor(handle_)) != 0) RaiseWriteError(name_);
}

}  // namespace rtl
