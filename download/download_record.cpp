#include "download/download_record.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "download/frame_codec.h"
#include "download/json_text.h"
#include "download/messages.h"
#include "download/record_platform.h"
#include "download/trace_recorder.h"
#include "download/upgrade_file.h"
#include "serial/serial_backend.h"

namespace {

using Clock = std::chrono::steady_clock;
using SystemClock = std::chrono::system_clock;

constexpr const char* kTracePrefix = "trace-";
constexpr const char* kTraceSuffix = ".txt";
// Names for traces begun in the same millisecond: the second is "trace-<UTC>_2.txt", and '_'
// sorts after '.', so the names sort as the traces were begun.
constexpr int kTraceNameTries = 9;
constexpr std::size_t kFileReadBytes = std::size_t{64} * 1024;  // files are read in pieces
constexpr int kDecimal = 10;

// Each outcome's stable word, what the operator was last told of it, and the stage a failure
// stopped at (null: none, the download completed).
struct OutcomeWords {
  DownloadOutcome outcome;
  const char* name;
  const char* status;
  const char* stage;
};
constexpr OutcomeWords kOutcomes[] = {
    {DownloadOutcome::FileNotOpened, "file-not-opened", kBoxEnterSoftwareFile, "file"},
    {DownloadOutcome::FileRefused, "file-refused", kBoxInvalidFile, "file"},
    {DownloadOutcome::NoWorker, "no-worker", kBoxNoThread, "start"},
    {DownloadOutcome::FileReopenFailed, "file-reopen-failed", kBoxEnterLdrFile, "file"},
    {DownloadOutcome::NoTerminal, "no-terminal", kStatusNotReady, "scan"},
    {DownloadOutcome::TerminalNotReady, "terminal-not-ready", kStatusNotReady, "terminal-check"},
    {DownloadOutcome::DialFailed, "dial-failed", kStatusDialFailed, "dial"},
    {DownloadOutcome::TransferFailed, "transfer-failed", kStatusTransferFailed, "transfer"},
    {DownloadOutcome::Completed, "completed", kStatusTransferDone, nullptr},
    {DownloadOutcome::NoWindow, "no-window", "", "window"},
};
// Every outcome is listed above; this is for a value that is none of them.
constexpr OutcomeWords kUnlisted = {DownloadOutcome::TransferFailed, "unknown", "", "unknown"};

const OutcomeWords& WordsOf(DownloadOutcome outcome) {
  for (const OutcomeWords& words : kOutcomes) {
    if (words.outcome == outcome) {
      return words;
    }
  }
  return kUnlisted;
}

// Where the download stopped, for a failed one: the worker's failure detail (stage, block,
// attempt, reason) where it gives one, else the stage the outcome tells. The one place that
// turns a report into the record's failure.
std::optional<RecordFailure> FailureOf(const DownloadReport& report) {
  const OutcomeWords& words = WordsOf(report.outcome);
  if (words.stage == nullptr) {
    return std::nullopt;
  }
  RecordFailure failure;
  failure.stage = words.stage;
  const FailureDetail& detail = report.failure;
  if (detail.Failed()) {
    failure.stage = StageName(detail.stage);
    failure.block = detail.block;
    if (detail.attempt != 0) {
      failure.attempt = detail.attempt;
    }
    if (detail.reason != FailureReason::None) {
      failure.reason = ReasonName(detail.reason);
    }
  }
  return failure;
}

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

std::string Optional(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

template <class T>
std::string Optional(const std::optional<T>& number) {
  return number ? std::to_string(*number) : "null";
}

std::string FailureJson(const std::optional<RecordFailure>& failure) {
  if (!failure) {
    return "null";
  }
  return "{\"stage\":" + Optional(failure->stage) + ",\"block\":" + Optional(failure->block) +
         ",\"attempt\":" + Optional(failure->attempt) + ",\"reason\":" + Optional(failure->reason) +
         "}";
}

std::string Text(const JsonObject& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->second.kind == JsonValue::Kind::String ? it->second.text
                                                                          : std::string();
}

std::optional<std::uint64_t> Number(const JsonObject& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->second.kind != JsonValue::Kind::Number) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  const std::string& text = it->second.text;
  const std::from_chars_result read =
      std::from_chars(text.data(), text.data() + text.size(), value, kDecimal);
  if (read.ec != std::errc() || read.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
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

std::string ErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// The recording as SetDownloadRecording left it.
struct Settings {
  std::mutex mutex;
  std::string program;
  RecordWarning warning = nullptr;
};
Settings& TheSettings() {
  static Settings settings;
  return settings;
}
std::atomic<bool> g_warned{false};

// The record this thread will end.
thread_local DownloadRecording t_recording;

}  // namespace

// One download's record: its trace in memory, the writer that writes it out, and the line.
class CRecordSession {
 public:
  CRecordSession(std::string program, RecordWarning warning, const std::string& file)
      : m_pressed(Clock::now()), m_trace(m_pressed), m_warning(warning) {
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

  const Clock::time_point m_pressed;
  CTraceRecorder m_trace;
  // The writer's thread; joined at the end when it finished in time, so that no thread of the
  // record is still on its way out when a program ends right after (under Wine such a thread
  // got the whole process killed now and then).
  std::thread m_writer;

 private:
  void Problem(std::string text) {
    if (m_problem.empty()) {
      m_problem = std::move(text);
    }
  }
  bool MakeFolder(const std::filesystem::path& folder);
  std::FILE* NewTrace(const std::filesystem::path& folder, std::string& name);
  void WriteTrace(std::FILE* trace, const std::string& name);
  void FileFacts(DownloadRecord& record);
  void AppendLine(const std::filesystem::path& file, const std::string& line);
  void Prune(const std::filesystem::path& folder, const std::string& own);

  const RecordWarning m_warning;
  DownloadRecord m_record;  // the press's part, then the end's before m_ending
  std::string m_stamp;      // the start, for the trace's name
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_ending = false;
  bool m_finished = false;
  std::string m_problem;  // the writer's: what went wrong first, in words

  friend void EndDownloadRecord(const DownloadReport& report);
};

bool CRecordSession::MakeFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!ec && std::filesystem::is_directory(folder, ec)) {
    // What was downloaded where is the user's own business: private every time, also a folder
    // that something else made.
    std::error_code ignored;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ignored);
  }
  if (ec || !std::filesystem::is_directory(folder, ec)) {
    Problem("cannot make the folder " + PathText(folder) +
            (ec ? " (" + ec.message() + ")" : std::string(" (not a folder)")));
    return false;
  }
  return true;
}

std::FILE* CRecordSession::NewTrace(const std::filesystem::path& folder, std::string& name) {
  for (int i = 1; i <= kTraceNameTries; ++i) {
    name = kTracePrefix;
    name += m_stamp;
    if (i > 1) {
      name += "_" + std::to_string(i);
    }
    name += kTraceSuffix;
    errno = 0;
    if (std::FILE* file = CreateNewFile(folder / name)) {
      return file;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  Problem("cannot write a trace in " + PathText(folder) + " (" + ErrorText(errno) + ")");
  name.clear();
  return nullptr;
}

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
      Problem("cannot write the trace " + name + " (" + ErrorText(errno) + ")");
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
                std::chrono::duration<double, std::milli>(Clock::now() - m_pressed).count(), 3,
                kTraceTimeWidth);
    std::fprintf(trace, "%s lost  %5llu events: the trace fell behind the port\n", ms,
                 static_cast<unsigned long long>(m_trace.Lost()));
  }
  if (std::fclose(trace) != 0) {
    Problem("cannot write the trace " + name + " (" + ErrorText(errno) + ")");
  }
}

void CRecordSession::FileFacts(DownloadRecord& record) {
  if (record.fileBytes) {
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
    record.fileBytes = bytes;
    record.fileFcs = static_cast<std::uint16_t>(~fcs);
  }
  std::fclose(file);
}

void CRecordSession::AppendLine(const std::filesystem::path& file, const std::string& line) {
  if (const int error = AppendWholeLine(file, line); error != 0) {
    Problem("cannot write " + PathText(file) + " (" + ErrorText(error) + ")");
  }
}

void CRecordSession::Prune(const std::filesystem::path& folder, const std::string& own) {
  std::vector<std::filesystem::path> traces;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = PathText(entry.path().filename());
    if (name.starts_with(kTracePrefix) && name.ends_with(kTraceSuffix) && name != own) {
      traces.push_back(entry.path());
    }
  }
  // The times in the names sort as the traces were begun; this download's own is never one of
  // those removed, even when a clock set back makes it look older.
  // A trace that another download still writes stays.
  std::sort(traces.begin(), traces.end());
  const std::size_t keep = own.empty() ? kKeptTraces : kKeptTraces - 1;
  for (std::size_t i = 0; i + keep < traces.size(); ++i) {
    (void)RemoveUnlessWritten(traces[i]);
  }
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
    Problem("no folder for the records: the environment names none");
  } else if (MakeFolder(folder)) {
    usable = true;
    trace = NewTrace(folder, traceName);
  }
  WriteTrace(trace, traceName);
  if (usable) {
    DownloadRecord record = m_record;  // complete: the end was told under the lock
    record.trace = traceName;
    FileFacts(record);
    AppendLine(folder / kRecordFileName, FormatRecordLine(record) + "\n");
    Prune(folder, traceName);
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
  }
  m_changed.notify_all();
}

void CRecordSession::Complete(const DownloadReport& report) {
  const OutcomeWords& words = WordsOf(report.outcome);
  // To the last exchange with the terminal: the time the operator leaves the final box open
  // is not the download's.
  const Clock::duration lastTraffic = m_trace.LastTraffic();
  m_record.seconds = std::chrono::duration<double>(lastTraffic > Clock::duration::zero()
                                                       ? lastTraffic
                                                       : Clock::now() - m_pressed)
                         .count();
  m_record.outcome = words.name;
  m_record.status = words.status;
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

std::string FormatRecordLine(const DownloadRecord& r) {
  char fcs[16] = "null";
  if (r.fileFcs) {
    std::snprintf(fcs, sizeof fcs, "\"0x%04X\"", static_cast<unsigned>(*r.fileFcs));
  }
  const std::string seconds = FixedText(r.seconds, 3);
  return "{\"start\":" + JsonString(r.start) + ",\"program\":" + JsonString(r.program) +
         ",\"version\":" + JsonString(r.version) + ",\"port\":" + Optional(r.port) +
         ",\"device\":" + Optional(r.device) + ",\"answer\":" + Optional(r.answer) +
         ",\"file\":" + JsonString(r.file) + ",\"file_bytes\":" + Optional(r.fileBytes) +
         ",\"file_fcs\":" + fcs + ",\"outcome\":" + JsonString(r.outcome) +
         ",\"status\":" + JsonString(r.status) + ",\"code\":" + std::to_string(r.code) +
         ",\"failure\":" + FailureJson(r.failure) + ",\"blocks\":" + std::to_string(r.blocks) +
         ",\"retries\":" + std::to_string(r.retries) + ",\"seconds\":" + seconds +
         ",\"trace\":" + Optional(r.trace) + "}";
}

bool ReadRecordLine(std::string_view line, DownloadRecord& r) {
  JsonObject object;
  if (!ReadJsonObject(line, object)) {
    return false;
  }
  r = DownloadRecord{};
  r.start = Text(object, "start");
  r.outcome = Text(object, "outcome");
  if (r.start.empty() || r.outcome.empty()) {
    return false;  // not one of ours
  }
  r.program = Text(object, "program");
  r.version = Text(object, "version");
  r.port = Text(object, "port");
  r.device = Text(object, "device");
  r.answer = Text(object, "answer");
  r.file = Text(object, "file");
  r.fileBytes = Number(object, "file_bytes");
  if (const std::string fcs = Text(object, "file_fcs"); !fcs.empty()) {
    r.fileFcs = static_cast<std::uint16_t>(std::strtoul(fcs.c_str(), nullptr, 16));
  }
  r.status = Text(object, "status");
  r.code = static_cast<std::uint16_t>(Number(object, "code").value_or(0));
  if (const auto it = object.find("failure");
      it != object.end() && it->second.kind == JsonValue::Kind::Object) {
    JsonObject where;
    if (ReadJsonObject(it->second.text, where)) {
      RecordFailure failure{Text(where, "stage"), {}, {}, Text(where, "reason")};
      if (const auto block = Number(where, "block")) failure.block = *block;
      if (const auto attempt = Number(where, "attempt")) failure.attempt = *attempt;
      r.failure = failure;
    }
  }
  r.blocks = static_cast<std::uint32_t>(Number(object, "blocks").value_or(0));
  r.retries = static_cast<std::uint32_t>(Number(object, "retries").value_or(0));
  if (const auto it = object.find("seconds");
      it != object.end() && it->second.kind == JsonValue::Kind::Number) {
    (void)ParseJsonNumber(it->second.text, r.seconds);
  }
  r.trace = Text(object, "trace");
  return true;
}

const char* OutcomeName(DownloadOutcome outcome) { return WordsOf(outcome).name; }

const char* CorvanelVersion() { return CORVANEL_VERSION; }

void SetDownloadRecording(const char* program, RecordWarning warning) {
  Settings& settings = TheSettings();
  std::lock_guard<std::mutex> lock(settings.mutex);
  settings.program = program != nullptr ? program : "";
  settings.warning = warning;
}

DownloadRecording BeginDownloadRecord(const std::string& file) {
  Settings& settings = TheSettings();
  std::string program;
  RecordWarning warning = nullptr;
  {
    std::lock_guard<std::mutex> lock(settings.mutex);
    program = settings.program;
    warning = settings.warning;
  }
  if (program.empty()) {
    return nullptr;
  }
  auto session = std::make_shared<CRecordSession>(std::move(program), warning, file);
  try {
    session->m_writer = std::thread([session] { session->Write(true); });
  } catch (const std::system_error&) {
    // No thread: the end writes the record itself.
  }
  SetPortTraceRecorder(&session->m_trace);
  return session;
}

void AdoptDownloadRecord(DownloadRecording recording) { t_recording = std::move(recording); }

void EndDownloadRecord(const DownloadReport& report) {
  const DownloadRecording session = std::move(t_recording);
  t_recording.reset();
  if (!session) {
    return;
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
  if (!problem.empty() && session->m_warning != nullptr && !g_warned.exchange(true)) {
    session->m_warning(("recording this download failed: " + problem).c_str());
  }
}

bool LastRecordLines(std::size_t count, std::vector<std::string>& lines, std::string& folder) {
  lines.clear();
  const std::filesystem::path where = StateFolder();
  folder = PathText(where);
  if (where.empty()) {
    return false;
  }
  std::FILE* file = OpenFile(where / kRecordFileName, "rb");
  if (file == nullptr) {
    return true;
  }
  std::string text;
  std::vector<char> piece(kFileReadBytes);
  for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), file)) > 0;) {
    text.append(piece.data(), n);
  }
  std::fclose(file);
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    DownloadRecord record;
    if (ReadRecordLine(line, record)) lines.push_back(std::move(line));
    begin = end + 1;
  }
  if (lines.size() > count) {
    lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
  }
  return true;
}
