// The run-time's own texts. %s takes the next value, %p the code address.
#pragma once

#include <string_view>

namespace rtl {

inline constexpr std::string_view SFOpenError = "ファイル %s は開けません";
inline constexpr std::string_view SReadError = "ファイル %s を読み込めません";
inline constexpr std::string_view SWriteError = "ファイル %s に書き込めません";

inline constexpr std::string_view SExceptTitle = "アプリケーション エラー";
// Its "\r\n" stand for the line end of the platform that shows the report.
inline constexpr std::string_view SException =
    "%s がモジュール %s の %p で発生しました。\r\n%s%s\r\n";

}  // namespace rtl
