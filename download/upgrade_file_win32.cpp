// Win32 side of the upgrade file: CreateFileW on the UTF-8 path made UTF-16 (so that a name with
// letters outside the ANSI code page opens), which never waits for a regular file, then the
// handle's type and times; the handle becomes a C stream only once it is known to be a file.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "download/upgrade_file.h"

namespace {

std::int64_t Ticks(const LARGE_INTEGER& t) { return static_cast<std::int64_t>(t.QuadPart); }

// The path as the system's wide calls take it; empty when it is not UTF-8 (no file has that name).
std::wstring WidePath(const char* path) {
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (length <= 1) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

bool IsRegularFile(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::FILE* OpenRegularFile(const char* path, const char* mode) {
  // Others may go on reading, writing or renaming it: the transfer notices a change itself.
  const std::wstring wide = WidePath(path);
  if (wide.empty()) {
    return nullptr;
  }
  const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  if (!IsRegularFile(h)) {
    CloseHandle(h);
    return nullptr;
  }
  const int text = std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT;
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_RDONLY | text);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) {
    _close(fd);  // closes the handle with it
  }
  return file;
}

bool MeasureOpenFile(std::FILE* file, FileMeasure& measure) {
  if (file == nullptr) {
    return false;
  }
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  FILE_BASIC_INFO times;
  LARGE_INTEGER size;
  if (h == INVALID_HANDLE_VALUE || !IsRegularFile(h) ||
      GetFileInformationByHandleEx(h, FileBasicInfo, &times, sizeof times) == 0 ||
      GetFileSizeEx(h, &size) == 0) {
    return false;
  }
  measure.size = static_cast<std::uint64_t>(size.QuadPart);
  measure.modified = Ticks(times.LastWriteTime);
  measure.changed = Ticks(times.ChangeTime);
  return true;
}
