// The Win32 backend's calls into the system, as one table that tests replace with a fake driver
// (one that fails as real drivers do after an unplug, refuses line settings with error 31 or 87,
// holds a port for another program, or names a Bluetooth device), since Wine maps COM ports onto
// Linux devices and shows none of that. Every call keeps the system's own contract: FALSE and the
// thread's last error on failure.
#pragma once

#include <windows.h>

struct CommCalls {
  // CreateFileA for exclusive, synchronous read and write of an existing device.
  HANDLE (*openDevice)(const char* name);
  // QueryDosDeviceA for one name ("COM5"): the device object, "\Device\USBSER000" and the like.
  DWORD (*queryDosDevice)(const char* device, char* target, DWORD size);
  BOOL (*setCommMask)(HANDLE handle, DWORD mask);
  BOOL (*setCommTimeouts)(HANDLE handle, COMMTIMEOUTS* timeouts);
  BOOL (*setCommState)(HANDLE handle, DCB* dcb);
  BOOL (*escapeCommFunction)(HANDLE handle, DWORD function);
  BOOL (*readFile)(HANDLE handle, void* buffer, DWORD count, DWORD* received);
  BOOL (*writeFile)(HANDLE handle, const void* bytes, DWORD count, DWORD* written);
  BOOL (*cancelIo)(HANDLE handle);
  BOOL (*closeHandle)(HANDLE handle);
};

// The system's own calls.
const CommCalls& SystemCommCalls();
// Puts `calls` in the system's place (null: the system's again). Set it while no port is open.
void SetCommCalls(const CommCalls* calls);
