#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "cli/console.h"

std::vector<std::string> CommandLineArguments(int argc, char* argv[]) {
  return std::vector<std::string>(argv, argv + argc);
}

std::uint64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<std::uint64_t>(size);
}

std::FILE* OpenForWriting(const std::string& path) { return std::fopen(path.c_str(), "w"); }

void KeepRunningWhenOutputCloses() { (void)::signal(SIGPIPE, SIG_IGN); }

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

bool CanRedrawInPlace(std::FILE* stream) { return IsTerminal(stream); }

std::size_t TerminalColumns(std::FILE* stream) {
  winsize size{};
  constexpr std::size_t kUsual = 80;
  return ::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : kUsual;
}

void WriteText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}
