#include <windows.h>

#include <utility>

#include "rtl/classes.h"
#include "rtl/sysutils.h"
#include "rtl/wide_text-win32.h"

namespace rtl {

namespace {

HANDLE AsWin32Handle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// Owns a handle until it is handed on.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }
  NativeHandle Release() {
    return reinterpret_cast<NativeHandle>(std::exchange(handle_, INVALID_HANDLE_VALUE));
  }

 private:
  HANDLE handle_;
};

// A console, a pipe or a device opens too; only a disk file that is no
// folder is repaired. The read-only attribute is Windows' own refusal of
// the write access, but not every system that runs the program keeps it
// (Wine run as root), so it is looked at here too.
bool IsWritableDiskFile(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return false;
  constexpr DWORD kRefused =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY;
  return (information.dwFileAttributes & kRefused) == 0;
}

// Share mode 0: while the file is ours nobody else opens it, and the open
// fails while somebody else has it open. The quality-of-service flags keep
// a named pipe's server from acting in the user's name, should the path
// name one.
NativeHandle OpenExclusive(const std::string& file_name) {
  OwnedHandle file(CreateFileW(
      WideFromWtf8(file_name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE || !IsWritableDiskFile(file.Get())) {
    RaiseFOpenError(file_name);
  }
  return file.Release();
}

}  // namespace

std::size_t THandleStream::Read(std::span<std::uint8_t> buffer) {
  DWORD count = 0;
  if (!ReadFile(AsWin32Handle(handle_), buffer.data(), static_cast<DWORD>(buffer.size()), &count,
                nullptr)) {
    RaiseReadError(name_);
  }
  position_ += count;
  return count;
}

void THandleStream::WriteBuffer(std::span<const std::uint8_t> buffer) {
  DWORD count = 0;
  if (!WriteFile(AsWin32Handle(handle_), buffer.data(), static_cast<DWORD>(buffer.size()), &count,
                 nullptr) ||
      count != buffer.size()) {
    RaiseWriteError(name_);
  }
  position_ += count;
}

void THandleStream::SetPosition(std::uint64_t position) {
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(position);
  if (!SetFilePointerEx(AsWin32Handle(handle_), distance, nullptr, FILE_BEGIN)) {
    RaiseWriteError(name_);
  }
  position_ = position;
}

TFileStream::TFileStream(const std::string& file_name, OpenMode /*mode*/)
    : THandleStream(OpenExclusive(file_name), file_name) {}

TFileStream::~TFileStream() {
  if (open_) CloseHandle(AsWin32Handle(handle_));
}

void TFileStream::Close() {
  open_ = false;
  if (!CloseHandle(AsWin32Handle(handle_))) RaiseWriteError(name_);
}

}  // namespace rtl
