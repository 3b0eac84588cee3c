// Failure objects. Every failure the run-time raises carries the code
// address it was raised at, which the unhandled-failure report shows.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace rtl {

using CodeAddress = const void*;

class Exception {
 public:
  Exception(std::string message, CodeAddress raise_address)
      : message_(std::move(message)), raise_address_(raise_address) {}
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  virtual ~Exception() = default;

  virtual std::string_view ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  CodeAddress RaiseAddress() const { return raise_address_; }

 private:
  std::string message_;
  CodeAddress raise_address_;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
  std::string_view ClassName() const override { return "EStreamError"; }
};

class EFOpenError final : public EStreamError {
 public:
  using EStreamError::EStreamError;
  std::string_view ClassName() const override { return "EFOpenError"; }
};

class EReadError final : public EStreamError {
 public:
  using EStreamError::EStreamError;
  std::string_view ClassName() const override { return "EReadError"; }
};

class EWriteError final : public EStreamError {
 public:
  using EStreamError::EStreamError;
  std::string_view ClassName() const override { return "EWriteError"; }
};

// Replaces each %s or %p in `format`, in turn, by the next of `values`.
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> values);

// Each raises its failure with the file's name in the message, recording
// the caller as the raise site.
[[noreturn]] void RaiseFOpenError(std::string_view file_name);
[[noreturn]] void RaiseReadError(std::string_view file_name);
[[noreturn]] void RaiseWriteError(std::string_view file_name);

}  // namespace rtl
