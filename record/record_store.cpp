#include "record/record_store.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "record/record_line.h"
#include "record/record_platform.h"

namespace {

constexpr const char* kTracePrefix = "trace-";
constexpr const char* kTraceSuffix = ".txt";
// Names for traces begun in the same millisecond: the second is "trace-<UTC>_2.txt", and '_'
// sorts after '.', so the names sort as the traces were begun.
constexpr int kTraceNameTries = 9;
}  // namespace

std::string ErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

bool MakeRecordFolder(const std::filesystem::path& folder, std::string& problem) {
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
    problem = "cannot make the folder " + PathText(folder) +
              (ec ? " (" + ec.message() + ")" : std::string(" (not a folder)"));
    return false;
  }
  return true;
}

std::FILE* NewTraceFile(const std::filesystem::path& folder, const std::string& stamp,
                        std::string& name, std::string& problem) {
  for (int i = 1; i <= kTraceNameTries; ++i) {
    name = kTracePrefix + stamp;
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
  problem = "cannot write a trace in " + PathText(folder) + " (" + ErrorText(errno) + ")";
  name.clear();
  return nullptr;
}

void PruneTraces(const std::filesystem::path& folder, const std::string& own) {
  std::vector<std::filesystem::path> traces;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = PathText(entry.path().filename());
    if (name.starts_with(kTracePrefix) && name.ends_with(kTraceSuffix) && name != own) {
      traces.push_back(entry.path());
    }
  }
  // The times in the names sort as the traces were begun; this download's own is never one of
  // those removed, even when a clock set back makes it look older. A trace that another
  // download still writes stays.
  std::sort(traces.begin(), traces.end());
  const std::size_t keep = own.empty() ? kKeptTraces : kKeptTraces - 1;
  for (std::size_t i = 0; i + keep < traces.size(); ++i) {
    (void)RemoveUnlessWritten(traces[i]);
  }
}

int AppendRecordLine(const std::filesystem::path& folder, const std::string& line) {
  return AppendWholeLine(folder / kRecordFileName, line + "\n");
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
