#include "rtl/sysutils.h"

#include "rtl/rtlconsts.h"

namespace rtl {

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> values) {
  std::string text;
  auto value = values.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const bool placeholder =
        format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'p');
    if (placeholder && value != values.end()) {
      text += *value++;
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

// Never inlined, so that the return address is inside the function that
// called for the failure, which is the raise site the report names.

[[gnu::noinline]] void RaiseFOpenError(std::string_view file_name) {
  throw EFOpenError(FormatText(SFOpenError, {file_name}), __builtin_return_address(0));
}

[[gnu::noinline]] void RaiseReadError(std::string_view file_name) {
  throw EReadError(FormatText(SReadError, {file_name}), __builtin_return_address(0));
}

[[gnu::noinline]] void RaiseWriteError(std::string_view file_name) {
  throw EWriteError(FormatText(SWriteError, {file_name}), __builtin_return_address(0));
}

}  // namespace rtl
