#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "record/record_platform.h"
#include "text/wide_text_win32.h"

namespace {

constexpr const wchar_t* kFolderName = L"Corvanel";
// Our writers of records take turns by this mutex (one per user's session), as POSIX's flock.
constexpr const wchar_t* kAppendTurnName = L"Local\\CorvanelRecordAppend";
constexpr DWORD kAppendTurnWaitMs = 5000;  // another writer's turn is one short write
constexpr DWORD kAllShares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// errno's word for a Win32 error, as the POSIX half tells it.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      return ENOENT;
    default:
      return EACCES;
  }
}

// The last byte of the file, or '\n' when it is empty or cannot be read.
char LastByte(const std::filesystem::path& path) {
  char last = '\n';
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, kAllShares, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return last;
  }
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    OVERLAPPED at{};
    const LONGLONG offset = size.QuadPart - 1;
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(file, &last, 1, &got, &at) || got != 1) {
      last = '\n';
    }
  }
  CloseHandle(file);
  return last;
}

// Cuts the file back to `length` when it is exactly `expected` long (nobody appended since).
void CutBack(const std::filesystem::path& path, LONGLONG length, LONGLONG expected) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, kAllShares, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  LARGE_INTEGER size{};
  LARGE_INTEGER to{};
  to.QuadPart = length;
  if (GetFileSizeEx(file, &size) && size.QuadPart == expected &&
      SetFilePointerEx(file, to, nullptr, FILE_BEGIN)) {
    (void)SetEndOfFile(file);
  }
  CloseHandle(file);
}

}  // namespace

std::filesystem::path StateFolder() {
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (length == 0) {
    return {};
  }
  std::wstring folder(length, L'\0');
  const DWORD copied = GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), length);
  if (copied == 0 || copied >= length) {
    return {};
  }
  folder.resize(copied);
  return std::filesystem::path(folder) / kFolderName;
}

std::filesystem::path NativePath(const std::string& text) { return Utf16(text); }

std::string PathText(const std::filesystem::path& path) { return Utf8(path.wstring()); }

std::FILE* CreateNewFile(const std::filesystem::path& path) {
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

bool RemoveUnlessWritten(const std::filesystem::path& path) {
  // A file that CreateNewFile holds open shares no deletion: the removal fails while it is.
  return DeleteFileW(path.c_str()) != 0;
}

int AppendWholeLine(const std::filesystem::path& path, std::string_view line) {
  const HANDLE turn = CreateMutexW(nullptr, FALSE, kAppendTurnName);
  bool holding = false;
  if (turn != nullptr) {
    const DWORD waited = WaitForSingleObject(turn, kAppendTurnWaitMs);
    holding = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  // Append-only access: each write goes to the end as one, whoever else writes at once (the C
  // runtime's "a" mode seeks and then writes, which two processes can interleave).
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kAllShares,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  int error = 0;
  if (file == INVALID_HANDLE_VALUE) {
    error = ErrnoOf(GetLastError());
  } else {
    std::string whole;
    if (LastByte(path) != '\n') {
      whole = "\n";  // after a fragment without its line feed, a line of its own
    }
    whole += line;
    LARGE_INTEGER before{};
    const bool sized = GetFileSizeEx(file, &before) != 0;
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(file, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
    if (!wrote || written != whole.size()) {
      error = wrote ? ENOSPC : ErrnoOf(GetLastError());
    }
    CloseHandle(file);
    if (error != 0 && written > 0 && sized) {
      CutBack(path, before.QuadPart, before.QuadPart + written);
    }
  }
  if (holding) {
    ReleaseMutex(turn);
  }
  if (turn != nullptr) {
    CloseHandle(turn);
  }
  return error;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return _wfopen(path.c_str(), Utf16(mode).c_str());
}

void LowerThreadPriority() {
  (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}
