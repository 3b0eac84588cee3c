// Streams: a stream over an operating-system file handle, and a file
// stream that opens a file by name and owns its handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace rtl {

// A POSIX descriptor or a Win32 HANDLE, whichever the platform has.
using NativeHandle = std::intptr_t;

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads up to buffer.size() bytes at the position and moves past them.
  // Returns how many arrived: fewer only at the end of the data. Raises
  // EReadError when the read fails.
  virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;

  // Writes the whole buffer at the position and moves past it, or raises
  // EWriteError.
  virtual void WriteBuffer(std::span<const std::uint8_t> buffer) = 0;

  // Raises EWriteError when the position cannot be set.
  virtual void SetPosition(std::uint64_t position) = 0;
};

// Does not own its handle.
class THandleStream : public TStream {
 public:
  // `name` names the stream's file in failure messages.
  THandleStream(NativeHandle handle, std::string name) : handle_(handle), name_(std::move(name)) {}

  std::size_t Read(std::span<std::uint8_t> buffer) override;
  void WriteBuffer(std::span<const std::uint8_t> buffer) override;
  void SetPosition(std::uint64_t position) override;

 protected:
  NativeHandle handle_;
  std::string name_;
  std::uint64_t position_ = 0;
};

enum class OpenMode {
  // An existing, ordinary, writable file, for reading and writing, shared
  // with no other process while it is open. Never created or truncated.
  ReadWriteExclusive,
};

class TFileStream final : public THandleStream {
 public:
  // Raises EFOpenError, naming `file_name`, when the file cannot be had so.
  TFileStream(const std::string& file_name, OpenMode mode);
  // Closes the file if Close() has not; a failure to close is not told.
  ~TFileStream() override;

  // Closes the file, or raises EWriteError: a failed close can mean that
  // written data did not arrive.
  void Close();

 private:
  bool open_ = true;
};

}  // namespace rtl
