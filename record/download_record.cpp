#include "record/download_record.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "download/upgrade_file.h"
#include "protocol/frame_codec.h"
#include "record/port_trace.h"
#include "record/record_platform.h"
#include "record/trace_recorder.h"
#include "serial/serial_backend.h"
#include "text/json_text.h"

namespace {

using Clock = std::chrono::steady_clock;
using SystemClock = std::chrono::system_clock;

// "2025-01-02T03:04:05.678Z", or with `compact` "20250102T030405.678Z" (for a file name).
std::string UtcText(SystemClock::time_point time, bool compact) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(time);
  const auto day = std::chrono::floor<std::chrono::days>(ms);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss clock(ms - day);
  char text[32];
  std::snprintf(text, sizeof text,
                compact ? "%04d%02u%02uT%02ld%02ld%02lldZ" : "%04d-%02u-%02uT%02ld:%02ld:%02lldZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<long>(clock.hours().count()),
                static_cast<long>(clock.minutes().count()),
                static_cast<long long>(clock.seconds().count()));
  // The milliseconds go before the 'Z'.
  std::string out = text;
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03lld",
                static_cast<long long>(clock.subseconds().count()));
  out.insert(out.size() - 1, fraction);
  return out;
}

// The path as support can use it: absolute (a relative one names nothing on another day); as
// given when it cannot be made so.
std::string AbsolutePath(const std::string& path) {
  if (path.empty()) {
    return path;
  }
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(NativePath(path), ec);
  return ec ? path : PathText(absolute.lexically_normal());
}

}  // namespace

// One download's record: its trace in memory, the writer that writes it out, and the line.
class CRecordSession {
 public:
  CRecordSession(std::string program, RecordWarning warning, const std::string& file,
                 bool onlyWithTerminal)
      : m_trace(Clock::now()), m_warning(warning), m_onlyWithTerminal(onlyWithTerminal) {
    const SystemClock::time_point now = SystemClock::now();
    m_record.start = UtcText(now, false);
    m_stamp = UtcText(now, true);
    m_record.program = std::move(program);
    m_record.version = CorvanelVersion();
    m_record.file = AbsolutePath(file);
  }

  // The writer's whole work, on a thread of its own (or inline, when none could be started).
  void Write(bool ownThread);
  // The end's part of the record, on the thread that ends the download.
  void Complete(const DownloadReport& report);
  // Tells the writer that the download is over and waits for its end; false when it did not
  // end in time.
  bool Finish();

  CTraceRecorder m_trace;
  // The writer's thread; joined at the end when it finished in time, so that no thread of the
  // record is still on its way out when a program ends right after (under Wine such a thread
  // got the whole process killed now and then).
  std::thread m_writer;

 private:
  // Keeps the first thing that went wrong; later ones follow from it.
  void KeepFirstProblem(std::string text) {
    if (m_problem.empty()) {
      m_problem = std::move(text);
    }
  }
  void WriteTrace(std::FILE* trace, const std::string& name);
  void FileFacts(DownloadRecord& record);

  const RecordWarning m_warning;
  const bool m_onlyWithTerminal;  // a download that found no terminal leaves nothing
  bool m_leaveNothing = false;    // set by the end, before m_ending
  DownloadRecord m_record;        // the press's part, then the end's before m_ending
  std::string m_stamp;            // the start, for the trace's name
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_ending = false;
  bool m_finished = false;
  std::string m_problem;  // the writer's: what went wrong first, in words

  friend class CRecorder;
};

void CRecordSession::WriteTrace(std::FILE* trace, const std::string& name) {
  for (;;) {
    bool ending = false;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait_for(lock, kTraceWriteInterval, [this] { return m_ending; });
      ending = m_ending;
    }
    // Everything appended before the end was told is in the ring by now.
    if (!m_trace.WriteOut(trace) && trace != nullptr) {
      KeepFirstProblem("cannot write the trace " + name + " (" + ErrorText(errno) + ")");
      std::fclose(trace);
      trace = nullptr;
    }
    if (ending) {
      break;
    }
  }
  if (trace == nullptr) {
    return;
  }
  if (m_trace.Lost() > 0) {
    char ms[kTraceTimeWidth + 1];
    FormatFixed(ms, sizeof ms,
                std::chrono::duration<double, std::milli>(Clock::now() - m_trace.Start()).count(),
                3, kTraceTimeWidth);
    std::fprintf(trace, "%s lost  %5llu events: the trace fell behind the port\n", ms,
                 static_cast<unsigned long long>(m_trace.Lost()));
  }
  if (std::fclose(trace) != 0) {
    KeepFirstProblem("cannot write the trace " + name + " (" + ErrorText(errno) + ")");
  }
}

void CRecordSession::FileFacts(DownloadRecord& record) {
  if (record.fileFcs) {
    return;
  }
  std::FILE* file = OpenRegularFile(record.file.c_str(), "rb");
  if (file == nullptr) {
    return;
  }
  std::vector<std::uint8_t> piece(kFileReadBytes);
  std::uint64_t bytes = 0;
  std::uint16_t fcs = kFcsInitial;
  for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), file)) > 0;) {
    fcs = Fcs16(fcs, piece.data(), static_cast<std::uint32_t>(n));
    bytes += n;
  }
  if (std::ferror(file) == 0) {
    if (!record.fileBytes) record.fileBytes = bytes;
    record.fileFcs = static_cast<std::uint16_t>(~fcs);
  }
  std::fclose(file);
}

void CRecordSession::Write(bool ownThread) {
  if (ownThread) {
    LowerThreadPriority();  // the download comes first
  }
  const std::filesystem::path folder = StateFolder();
  bool usable = false;
  std::FILE* trace = nullptr;
  std::string traceName;
  if (folder.empty()) {
    KeepFirstProblem("no folder for the records: the environment names none");
  } else if (std::string problem; !MakeRecordFolder(folder, problem)) {
    KeepFirstProblem(problem);
  } else {
    usable = true;
    trace = NewTraceFile(folder, m_stamp, traceName, problem);
    if (trace == nullptr) KeepFirstProblem(problem);
  }
  WriteTrace(trace, traceName);
  if (usable && m_leaveNothing) {
    std::error_code ec;
    std::filesystem::remove(folder / NativePath(traceName), ec);
  } else if (usable) {
    DownloadRecord record = m_record;  // complete: the end was told under the lock
    record.trace = traceName;
    FileFacts(record);
    if (const int error = AppendRecordLine(folder, FormatRecordLine(record)); error != 0) {
      KeepFirstProblem("cannot write " + PathText(folder / kRecordFileName) + " (" +
                       ErrorText(error) + ")");
    }
    PruneTraces(folder, traceName);
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
  }
  m_changed.notify_all();
}

void CRecordSession::Complete(const DownloadReport& report) {
  const OutcomeFacts& facts = FactsOf(report.outcome);
  m_leaveNothing = m_onlyWithTerminal && report.outcome == DownloadOutcome::NoTerminal;
  m_record.seconds = report.seconds;
  m_record.outcome = facts.name;
  m_record.status = facts.status;
  m_record.fileBytes = report.fileBytes;
  m_record.code = report.transferResult;
  m_record.failure = FailureOf(report);
  const bool transferRan = report.outcome == DownloadOutcome::TransferFailed ||
                           report.outcome == DownloadOutcome::Completed;
  const bool terminalReached = transferRan || report.outcome == DownloadOutcome::TerminalNotReady ||
                               report.outcome == DownloadOutcome::DialFailed;
  if (transferRan) {
    m_record.blocks = report.blocks;
    m_record.retries = report.retries;
  }
  if (terminalReached) {
    m_record.port = m_trace.Port();
    m_record.device = PortDevice(m_record.port);
    m_record.answer = m_trace.Answer();
  }
  if (report.imageBytes && report.imageFcs) {
    // Exactly what the handset took.
    m_record.fileBytes = report.imageBytes;
    m_record.fileFcs = report.imageFcs;
  }
}

bool CRecordSession::Finish() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ending = true;
  }
  m_changed.notify_all();
  if (!m_writer.joinable()) {
    Write(false);
  }
  bool finished = false;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    finished = m_changed.wait_for(lock, kRecordFinishTimeout, [this] { return m_finished; });
  }
  if (m_writer.joinable()) {
    if (finished) {
      m_writer.join();
    } else {
      m_writer.detach();  // held up by its disk: it ends on its own, the session with it
    }
  }
  return finished;
}

// The record as a listener of the worker: one session per download between its start and its
// report, found again by the download's id (a press right after a download's window came back
// can start the next before the last one's report is in).
class CRecorder : public CDownloadListener {
 public:
  void Set(const char* program, RecordWarning warning, RecordScope scope) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_program = program != nullptr ? program : "";
    m_warning = warning;
    m_scope = scope;
  }

  void OnDownloadStart(const DownloadStart& start) override {
    std::string program;
    RecordWarning warning = nullptr;
    RecordScope scope = RecordScope::Every;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      program = m_program;
      warning = m_warning;
      scope = m_scope;
    }
    if (program.empty()) {
      return;
    }
    auto session = std::make_shared<CRecordSession>(std::move(program), warning, start.file,
                                                    scope == RecordScope::TerminalFound);
    try {
      session->m_writer = std::thread([session] { session->Write(true); });
    } catch (const std::system_error&) {
      // No thread: the end writes the record itself.
    }
    SetPortTraceRecorder(&session->m_trace);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions[start.id] = std::move(session);
  }

  void OnDownloadReport(const DownloadReport& report) override {
    std::shared_ptr<CRecordSession> session;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      const auto it = m_sessions.find(report.id);
      if (it == m_sessions.end()) {
        return;  // a refusal before any start, or a download begun while recording was off
      }
      session = std::move(it->second);
      m_sessions.erase(it);
    }
    // The port is closed: nothing more comes for this trace, and a download started meanwhile
    // has put its own in its place.
    ClearPortTraceRecorder(&session->m_trace);
    session->Complete(report);
    const bool finished = session->Finish();
    std::string problem;
    if (!finished) {
      problem = "the record of this download was not written within " +
                std::to_string(kRecordFinishTimeout.count()) + " s";
    } else {
      std::lock_guard<std::mutex> lock(session->m_mutex);
      problem = session->m_problem;
    }
    if (!problem.empty() && session->m_warning != nullptr && !m_warned.exchange(true)) {
      session->m_warning(("recording this download failed: " + problem).c_str());
    }
  }

 private:
  std::mutex m_mutex;
  std::string m_program;
  RecordWarning m_warning = nullptr;
  RecordScope m_scope = RecordScope::Every;
  std::map<std::uint64_t, std::shared_ptr<CRecordSession>> m_sessions;
  std::atomic<bool> m_warned{false};
};

namespace {

CRecorder& TheRecorder() {
  static CRecorder recorder;
  return recorder;
}

}  // namespace

CDownloadListener& DownloadRecorder() { return TheRecorder(); }

void SetDownloadRecording(const char* program, RecordWarning warning, RecordScope scope) {
  CRecorder& recorder = TheRecorder();
  recorder.Set(program, warning, scope);
  if (program != nullptr && *program != '\0') {
    AddDownloadListener(&recorder);
  } else {
    RemoveDownloadListener(&recorder);
  }
}
