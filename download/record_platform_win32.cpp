#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "download/record_platform.h"
#include "download/wide_text_win32.h"

namespace {

constexpr const wchar_t* kFolderName = L"Corvanel";

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
    // As the POSIX half tells it: a name taken, or another reason.
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST
            : error == ERROR_DISK_FULL                                  ? ENOSPC
            : error == ERROR_PATH_NOT_FOUND                             ? ENOENT
                                                                        : EACCES;
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

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return _wfopen(path.c_str(), Utf16(mode).c_str());
}

void LowerThreadPriority() {
  (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}
