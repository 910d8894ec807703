// A program that holds the terminal port as the window program does: it stops on signals the
// same way, runs one download of the file given as its argument through StartDownload and the
// worker with a window that shows nothing, and then waits to be stopped.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/process_exit.h"
#include "tests/support/quiet_link.h"

namespace {

// A window whose path box holds the file to download.
class CPathLink : public CQuietLink {
 public:
  explicit CPathLink(std::string path) : m_path(std::move(path)) {}
  std::string GetItemText(int id) override { return id == IDC_PATH ? m_path : std::string(); }

 private:
  std::string m_path;
};

}  // namespace

int main(int argc, char** argv) {
  EndProcessOnSignals();
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s UPGRADE-FILE\n", argv[0]);
    return 2;
  }
  static CPathLink link(argv[1]);
  SetMainWindowLink(&link);
  StartDownload();
  for (;;) {
    ::pause();
  }
}
