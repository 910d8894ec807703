#include "download/window_link.h"

#include <atomic>

#include "download/messages.h"

namespace {
std::atomic<CWindowLink*> g_mainWindowLink{nullptr};
}  // namespace

CWindowLink* GetMainWindowLink() { return g_mainWindowLink.load(); }

void SetMainWindowLink(CWindowLink* link) { g_mainWindowLink.store(link); }

void ShowMessageBox(CWindowLink& link, BoxOwner owner, const char* text, const char* caption) {
  if (caption == nullptr) {
    caption = owner == BoxOwner::MainWindow ? kAppName : kDefaultBoxCaption;
  }
  link.MessageBox(owner, text, caption);
}
