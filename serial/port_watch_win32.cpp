#include <windows.h>

#include <cstring>

#include "serial/port_watch.h"
#include "text/wide_text_win32.h"

namespace {

constexpr wchar_t kDeviceMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr char kDevicePrefix[] = "\\\\.\\";  // "\\.\"

// The device map: "COMn" -> the device object that holds it ("\Device\USBSER000"). False when
// the map cannot be read (no serial device was ever there, or no right to read it).
bool ReadDeviceMap(std::map<std::string, std::string>& map) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceMap, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t value[256];
    wchar_t data[64];
    DWORD valueLength = sizeof value / sizeof value[0];
    DWORD dataBytes = sizeof data - sizeof data[0];
    DWORD type = 0;
    const LONG status = RegEnumValueW(key, i, value, &valueLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
    if (status == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (status != ERROR_SUCCESS || type != REG_SZ) {
      continue;
    }
    data[dataBytes / sizeof data[0]] = L'\0';
    map[Utf8(data)] = Utf8(value);
  }
  RegCloseKey(key);
  return true;
}

}  // namespace

PortSnapshot PresentPorts(const std::vector<std::string>& names) {
  PortSnapshot present;
  std::map<std::string, std::string> map;
  const bool haveMap = ReadDeviceMap(map);
  for (const std::string& name : names) {
    const bool device = name.rfind(kDevicePrefix, 0) == 0;
    const std::string dosName = device ? name.substr(sizeof kDevicePrefix - 1) : name;
    if (dosName.rfind("COM", 0) != 0) {
      present[name] = "";  // a device path: nothing tells whether it is there
      continue;
    }
    if (haveMap) {
      const auto entry = map.find(dosName);
      if (entry != map.end()) {
        present[name] = entry->second;
      }
      continue;
    }
    char target[512];
    if (QueryDosDeviceA(dosName.c_str(), target, sizeof target) != 0) {
      present[name] = target;
    }
  }
  return present;
}

struct CPortWatcher::Impl {
  HKEY key = nullptr;
  HANDLE changed = nullptr;  // the device map's change notification
  HANDLE wake = nullptr;
  void Arm() {
    if (key != nullptr) {
      RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                              changed, TRUE);
    }
  }
};

CPortWatcher::CPortWatcher(const std::vector<std::string>& /*names*/) : m_impl(new Impl) {
  m_impl->changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  m_impl->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceMap, 0, KEY_NOTIFY, &m_impl->key) != ERROR_SUCCESS) {
    m_impl->key = nullptr;  // Wait then looks again at each limit
  }
  m_impl->Arm();
}

CPortWatcher::~CPortWatcher() {
  if (m_impl->key != nullptr) {
    RegCloseKey(m_impl->key);
  }
  CloseHandle(m_impl->changed);
  CloseHandle(m_impl->wake);
}

void CPortWatcher::Wait(std::chrono::milliseconds limit) {
  const HANDLE handles[2] = {m_impl->wake, m_impl->changed};
  const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(limit.count()));
  if (woke == WAIT_OBJECT_0 + 1) {
    m_impl->Arm();
  }
}

void CPortWatcher::Wake() { SetEvent(m_impl->wake); }
