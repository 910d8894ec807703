// The record's writer on its own, on Linux and (cross-built, under Wine) on Windows: a state
// folder whose name has letters of three scripts, the record of an upgrade file named likewise,
// the traces kept to the last 20; numbers under a comma locale; lines whole with two writers at
// once, after a fragment and on a full disk.
#include "record/download_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "download/download_worker.h"
#include "record/port_trace.h"
#include "record/record_platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kFolderName = "Corvanel";
void SetStateHome(const fs::path& home) { SetEnvironmentVariableW(L"LOCALAPPDATA", home.c_str()); }
#else
constexpr const char* kFolderName = "corvanel";
void SetStateHome(const fs::path& home) { setenv("XDG_STATE_HOME", home.c_str(), 1); }
#endif

// A path's text as the core keeps it (UTF-8, or the bytes themselves on POSIX).
std::string CoreText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path Utf8Path(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::vector<std::string> Traces(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = CoreText(entry.path().filename());
    if (name.starts_with("trace-")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DownloadRecordTest, TwentyFirstTrace_RemovesTheOldestAndRecordsTheFile) {
  const fs::path home =
      fs::temp_directory_path() / Utf8Path(
                                      "corvanel-\xC5\x81\xC3\xB3"
                                      "d\xC5\xBA-\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C-"
                                      "\xE8\xB7\xAF\xE5\xBE\x84-" +
                                      std::to_string(std::random_device{}()));
  const fs::path folder = home / kFolderName;
  ASSERT_TRUE(fs::create_directories(folder));
  for (int i = 0; i < 20; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "trace-20200101T0000%02d.000Z.txt", i);
    std::ofstream(folder / name) << "old\n";
  }
  // The three bytes whose FCS the end request would carry as 9E 25.
  const fs::path file = home / Utf8Path("obraz-\xD0\xBE\xD0\xB1\xD1\x80\xD0\xB0\xD0\xB7.ldr");
  std::ofstream(file, std::ios::binary) << "abc";
  const std::string path = CoreText(file);
  // A trace older than all of them is still being written by another download: it stays.
  std::FILE* held = CreateNewFile(folder / "trace-20200101T000000.000Z_2.txt");
  ASSERT_NE(held, nullptr);

  SetStateHome(home);
  SetDownloadRecording("test", nullptr);
  DownloadRecorder().OnDownloadStart(DownloadStart{7, path});
  // As the worker reports a second scan that found no terminal.
  DownloadReport report;
  report.id = 7;
  report.outcome = DownloadOutcome::NoTerminal;
  report.failure.stage = DownloadStage::Scan;
  DownloadRecorder().OnDownloadReport(report);
  SetDownloadRecording(nullptr, nullptr);
  std::fclose(held);

  std::ifstream in(folder / kRecordFileName);
  std::string line, more;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_FALSE(std::getline(in, more)) << more;
  DownloadRecord r;
  ASSERT_TRUE(ReadRecordLine(line, r)) << line;
  EXPECT_EQ(r.program, "test");
  EXPECT_EQ(r.outcome, "no-terminal");
  EXPECT_EQ(r.status, "Terminal not ready.");
  ASSERT_TRUE(r.failure.has_value());
  EXPECT_EQ(r.failure->stage, "scan");
  EXPECT_FALSE(r.failure->attempt.has_value());
  EXPECT_EQ(r.failure->reason, "");
  EXPECT_NE(line.find("\"failure\":{\"stage\":\"scan\",\"block\":null,\"attempt\":null,"
                      "\"reason\":null}"),
            std::string::npos)
      << line;
  EXPECT_EQ(r.file, path);
  EXPECT_EQ(r.fileBytes, 3u);
  EXPECT_EQ(r.fileFcs, 0x9E25);
  EXPECT_EQ(r.port, "");

  const std::vector<std::string> traces = Traces(folder);
  ASSERT_EQ(traces.size(), 21u);
  EXPECT_EQ(traces[0], "trace-20200101T000000.000Z_2.txt");
  EXPECT_EQ(traces[1], "trace-20200101T000001.000Z.txt");
  EXPECT_EQ(traces.back(), r.trace);
  std::error_code ec;
  fs::remove_all(home, ec);
}

}  // namespace

// Numbers for a machine stay as a machine reads them under a desktop's locale that writes a
// decimal comma (Qt sets the C library's locale from the desktop).
TEST(DownloadRecordTest, CommaLocale_RecordAndTraceKeepTheDecimalPoint) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  const char* comma = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252"}) {
    if ((comma = std::setlocale(LC_ALL, name)) != nullptr) break;
  }
  if (comma == nullptr || std::string(std::localeconv()->decimal_point) != ",") {
    std::setlocale(LC_ALL, before.c_str());
    GTEST_SKIP() << "no German locale here";
  }
  DownloadRecord record;
  record.start = "2026-12-08T03:15:15.213Z";
  record.outcome = "completed";
  record.seconds = 83.25;
  const std::string line = FormatRecordLine(record);
  DownloadRecord back;
  const bool read = ReadRecordLine(line, back);
  char trace[kTraceLineCapacity];
  const std::uint8_t ok[] = {'O', 'K'};
  const std::string traced(trace, FormatTraceLine(trace, 12.5, PortEvent::Read, "", ok, 2));
  std::setlocale(LC_ALL, before.c_str());

  EXPECT_NE(line.find("\"seconds\":83.250,"), std::string::npos) << line;
  ASSERT_TRUE(read) << line;
  EXPECT_EQ(back.seconds, 83.25);
  EXPECT_EQ(traced, "    12.500 read      2  4F 4B  |OK|\n");
}

std::vector<std::string> Lines(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

fs::path TestFolder(const char* name) {
  const fs::path folder = fs::temp_directory_path() /
                          (std::string(name) + "-" + std::to_string(std::random_device{}()));
  fs::create_directories(folder);
  return folder;
}

// Two programs that end their downloads at once each append their lines whole; none is lost.
TEST(DownloadRecordTest, TwoWritersAtOnce_EveryLineWholeNoneLost) {
  const fs::path folder = TestFolder("corvanel-writers");
  const fs::path file = folder / kRecordFileName;
  constexpr int kLines = 500;
  const auto writer = [&file](char who) {
    for (int i = 0; i < kLines; ++i) {
      // Long enough that a write split in two would show.
      const std::string line =
          std::string(1, who) + std::to_string(i) + std::string(600, who) + "\n";
      EXPECT_EQ(AppendWholeLine(file, line), 0);
    }
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();

  std::vector<int> seen(2 * kLines, 0);
  for (const std::string& line : Lines(file)) {
    ASSERT_FALSE(line.empty());
    const char who = line[0];
    ASSERT_TRUE(who == 'a' || who == 'b') << line.substr(0, 40);
    const std::size_t digits = line.find(who, 1);
    ASSERT_NE(digits, std::string::npos);
    ASSERT_EQ(line.size(), digits + 600) << line.substr(0, 40);
    ASSERT_EQ(line.find_first_not_of(who, digits), std::string::npos) << line.substr(0, 40);
    ++seen[(who == 'a' ? 0 : kLines) + std::stoi(line.substr(1, digits - 1))];
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 2 * kLines);
  std::error_code ec;
  fs::remove_all(folder, ec);
}

// A fragment left without its line feed (a full disk, an old version) costs neither the next
// line nor the records around it: the next begins on a line of its own, readers pass the
// fragment, and "the last N" counts records.
TEST(DownloadRecordTest, TornFragment_NextLineWholeAndReadersPassIt) {
  const fs::path home = TestFolder("corvanel-torn");
  const fs::path file = home / kFolderName / kRecordFileName;
  fs::create_directories(file.parent_path());
  DownloadRecord record;
  record.start = "2026-12-08T03:15:15.213Z";
  record.outcome = "completed";
  const std::string first = FormatRecordLine(record);
  std::ofstream(file, std::ios::binary) << first << "\n" << first.substr(0, 40);
  record.outcome = "transfer-failed";
  const std::string last = FormatRecordLine(record);
  ASSERT_EQ(AppendWholeLine(file, last + "\n"), 0);

  SetStateHome(home);
  std::vector<std::string> lines;
  std::string folder;
  ASSERT_TRUE(LastRecordLines(10, lines, folder));
  EXPECT_EQ(lines, (std::vector<std::string>{first, last}));
  ASSERT_TRUE(LastRecordLines(2, lines, folder));
  EXPECT_EQ(lines.size(), 2u);
  std::error_code ec;
  fs::remove_all(home, ec);
}

#ifndef _WIN32
// A full disk: the line that did not fit is cut back off the file, and once there is room again
// the next line is whole and every line reads. On a small file system of its own, in a mount
// namespace of a child process (root only; skipped otherwise).
TEST(DownloadRecordTest, FullDisk_LeavesNoTornLine) {
  const fs::path mount = TestFolder("corvanel-full");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr int kCannotMount = 77;
    if (unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("corvanel", mount.c_str(), "tmpfs", 0, "size=64k") != 0) {
      _exit(kCannotMount);
    }
    DownloadRecord record;
    record.start = "2026-12-08T03:15:15.213Z";
    record.outcome = "completed";
    const std::string line = FormatRecordLine(record) + "\n";
    record.file = std::string(6000, 'x');
    const std::string longLine = FormatRecordLine(record) + "\n";
    const fs::path file = mount / kRecordFileName;
    if (AppendWholeLine(file, line) != 0) _exit(1);
    // The rest of the disk filled; the record file's last block keeps some room.
    {
      std::ofstream filler(mount / "filler", std::ios::binary);
      const std::string block(4096, 'f');
      while (filler.write(block.data(), block.size())) {
      }
    }
    if (AppendWholeLine(file, longLine) != ENOSPC) _exit(2);
    if (fs::file_size(file) != line.size()) _exit(3);  // whole or absent
    fs::remove(mount / "filler");
    if (AppendWholeLine(file, longLine) != 0) _exit(4);
    const std::vector<std::string> lines = Lines(file);
    DownloadRecord r;
    if (lines.size() != 2 || !ReadRecordLine(lines[0], r) || !ReadRecordLine(lines[1], r) ||
        r.file != record.file) {
      _exit(5);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  fs::remove_all(mount);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no tmpfs of our own here (needs root)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "step that failed";
}
#endif
