// Starts a program with an exact command line, as Explorer or another
// program would, and tells what became of it: the message box it showed,
// if any, and its exit status. Test use only; a console program, so that
// what it tells reaches the test through standard output.
//
//   launch.exe [--hold r|w|rw PATH | --serve-pipe NAME] LINE_FILE
//
// LINE_FILE holds the command line in UTF-8, taken whole for CreateProcessW.
// --hold keeps PATH open in this process, sharing everything, for as long
// as the program runs: another Windows process that has the file open.
// --serve-pipe offers a named pipe \\.\pipe\NAME for the program to open.
// Output, one "key: value" a line, in UTF-8, with \ CR LF escaped as
// \\ \r \n: "box-title", "box-text", "box-button" (one line each, "ID TEXT"),
// "box-icon" (yes/no), then "exit" with the status, or "timeout".

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr DWORD kTimeoutMs = 30000;
constexpr wchar_t kReportTitle[] =
    L"\u30a2\u30d7\u30ea\u30b1\u30fc\u30b7\u30e7\u30f3 \u30a8\u30e9\u30fc";

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

std::wstring Wide(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

void Tell(const char* key, const std::wstring& value) {
  std::string escaped;
  for (const char c : Utf8(value)) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '\r')
      escaped += "\\r";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  std::printf("%s: %s\n", key, escaped.c_str());
  std::fflush(stdout);
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

struct BoxSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK CheckForReportBox(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<BoxSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.process || !IsWindowVisible(window) || WindowText(window) != kReportTitle) {
    return TRUE;
  }
  search.found = window;
  return FALSE;
}

// Found by its title, and only if it is the started program's.
HWND FindReportBox(DWORD process) {
  BoxSearch search{process, nullptr};
  EnumWindows(CheckForReportBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

// Tells what the box shows, then closes it with its OK button.
void ReadAndClose(HWND box) {
  Tell("box-title", WindowText(box));
  HWND ok = nullptr;
  bool icon_shown = false;
  for (HWND child : Children(box)) {
    const std::wstring kind = ClassOf(child);
    if (_wcsicmp(kind.c_str(), L"Button") == 0) {
      const int id = GetDlgCtrlID(child);
      Tell("box-button", std::to_wstring(id) + L" " + WindowText(child));
      if (id == IDOK) ok = child;
    } else if (_wcsicmp(kind.c_str(), L"Static") == 0) {
      if (SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        icon_shown = true;
      } else if (GetWindowTextLengthW(child) > 0) {
        Tell("box-text", WindowText(child));
      }
    }
  }
  // Which icon it is, the call's style tells: a handle of another
  // process's icon cannot be compared with ours.
  Tell("box-icon", icon_shown ? L"yes" : L"no");
  if (ok != nullptr) SendMessageW(ok, BM_CLICK, 0, 0);
}

HANDLE Hold(const std::wstring& mode, const std::wstring& path) {
  DWORD access = 0;
  if (mode.find(L'r') != mode.npos) access |= GENERIC_READ;
  if (mode.find(L'w') != mode.npos) access |= GENERIC_WRITE;
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Fail(const char* what) {
  std::fprintf(stderr, "launch: %s failed (error %lu)\n", what, GetLastError());
  return 100;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // line ends as written
  HANDLE held = INVALID_HANDLE_VALUE;
  int next = 1;
  if (argc == 5 && std::wstring(argv[1]) == L"--hold") {
    held = Hold(argv[2], argv[3]);
    if (held == INVALID_HANDLE_VALUE) return Fail("holding the file");
    next = 4;
  } else if (argc == 4 && std::wstring(argv[1]) == L"--serve-pipe") {
    held = CreateNamedPipeW((L"\\\\.\\pipe\\" + std::wstring(argv[2])).c_str(), PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return Fail("CreateNamedPipeW");
    next = 3;
  }
  if (argc != next + 1) {
    std::fprintf(stderr, "usage: launch.exe [--hold r|w|rw PATH | --serve-pipe NAME] LINE_FILE\n");
    return 100;
  }
  std::ifstream line_file(argv[next], std::ios::binary);
  std::wstring line = Wide(std::string(std::istreambuf_iterator<char>(line_file), {}));
  if (!line_file) return Fail("reading the line file");

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return Fail("CreateProcessW");
  }
  CloseHandle(started.hThread);

  bool box_seen = false;
  const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
  while (WaitForSingleObject(started.hProcess, 20) == WAIT_TIMEOUT) {
    if (GetTickCount64() > deadline) {
      TerminateProcess(started.hProcess, 124);
      std::printf("timeout: yes\n");
      return 124;
    }
    if (box_seen) continue;
    if (HWND box = FindReportBox(started.dwProcessId)) {
      box_seen = true;
      ReadAndClose(box);
    }
  }
  DWORD status = 0;
  GetExitCodeProcess(started.hProcess, &status);
  std::printf("exit: %lu\n", status);
  CloseHandle(started.hProcess);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return 0;
}
