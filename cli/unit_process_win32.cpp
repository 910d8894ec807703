#include <windows.h>

#include <atomic>
#include <mutex>

#include "cli/unit_process.h"
#include "download/process_exit.h"
#include "text/wide_text_win32.h"

namespace {

constexpr int kStopExitCode = SignalExitCode(15);  // as SIGTERM ends a POSIX unit

// One argument as CommandLineToArgvW reads it back: quoted when it holds a blank or a quote,
// a quote escaped, and backslashes doubled where a quote follows them.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

// Every unit belongs to this job, which ends them all when the station ends, however it ends.
HANDLE StationJob() {
  static const HANDLE job = [] {
    const HANDLE created = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (created != nullptr) {
      SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return created;
  }();
  return job;
}

// Only one pipe end may be inheritable at a time, or a unit started meanwhile would keep
// another's pipe open.
std::mutex g_startMutex;

std::function<void(int)> g_onStop;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const int signal = event == CTRL_C_EVENT ? 2 : 15;
  if (g_onStop) {
    g_onStop(signal);
  }
  return TRUE;
}

}  // namespace

struct CUnitProcess::Impl {
  HANDLE process = nullptr;
  HANDLE output = nullptr;
  std::atomic<bool> waited{false};  // Wait's (the reader thread), read by Stop (the station's)
  std::string buffer;
  std::size_t at = 0;
};

CUnitProcess::CUnitProcess() : m_impl(new Impl) {}

CUnitProcess::~CUnitProcess() {
  if (m_impl->process != nullptr && !m_impl->waited) {
    Stop();
    Wait();
  }
  if (m_impl->process != nullptr) {
    CloseHandle(m_impl->process);
  }
  if (m_impl->output != nullptr) {
    CloseHandle(m_impl->output);
  }
}

bool CUnitProcess::Start(const std::vector<std::string>& arguments, std::string& error) {
  wchar_t self[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
  if (length == 0 || length >= sizeof self / sizeof self[0]) {
    error = "cannot find this program";
    return false;
  }
  std::wstring line = Quoted(self);
  for (const std::string& argument : arguments) {
    line += L" " + Quoted(Utf16(argument));
  }
  const std::lock_guard<std::mutex> lock(g_startMutex);
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (!CreatePipe(&read, &write, &inherit, 0)) {
    error = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessW(self, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                      nullptr, nullptr, &startup, &info);
  CloseHandle(write);
  if (!started) {
    CloseHandle(read);
    error = "cannot start a unit (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (StationJob() != nullptr) {
    AssignProcessToJobObject(StationJob(), info.hProcess);
  }
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  m_impl->process = info.hProcess;
  m_impl->output = read;
  return true;
}

bool CUnitProcess::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    while (m_impl->at < m_impl->buffer.size()) {
      const char c = m_impl->buffer[m_impl->at++];
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') {
          line.pop_back();
        }
        return true;
      }
      line.push_back(c);
    }
    m_impl->buffer.resize(4096);
    m_impl->at = 0;
    DWORD got = 0;
    if (!ReadFile(m_impl->output, m_impl->buffer.data(), static_cast<DWORD>(m_impl->buffer.size()),
                  &got, nullptr) ||
        got == 0) {
      m_impl->buffer.clear();
      return !line.empty();
    }
    m_impl->buffer.resize(got);
  }
}

int CUnitProcess::Wait() {
  WaitForSingleObject(m_impl->process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(m_impl->process, &code);
  m_impl->waited = true;
  return static_cast<int>(code);
}

void CUnitProcess::Stop() {
  if (m_impl->process != nullptr && !m_impl->waited) {
    TerminateProcess(m_impl->process, kStopExitCode);
  }
}

void WatchStopRequests(std::function<void(int signal)> onStop) {
  g_onStop = std::move(onStop);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void EndWithStation() {}
