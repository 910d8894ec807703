// The Qt side of the worker's window link: every change the engine asks for, message boxes
// included, is carried out on the UI thread, and the calling thread waits until it is done (a
// box: until OK). A call made on the UI thread itself runs directly (a blocking queued call to
// one's own thread would never return). Texts are UTF-8.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "download/progress_model.h"
#include "download/window_link.h"
#include "ui/qt/qt_window.h"

class CQtWindowLink : public QObject, public CWindowLink {
  Q_OBJECT

 public:
  // `window` is the main window; once its window is gone, changes are dropped.
  explicit CQtWindowLink(CDialog& window);
  ~CQtWindowLink() override;

  std::string GetItemText(int id) override;
  void SetItemText(int id, const char* text) override;
  void EnableItem(int id, bool enable) override;
  void SetProgressRange(int id, std::int32_t lower, std::int32_t upper) override;
  void SetProgressStep(int id, std::int32_t step) override;
  void SetProgressPos(int id, std::int32_t position) override;
  void MessageBox(BoxOwner owner, const char* text, const char* caption) override;

  // The text a control shows for a text of the system's (CR LF and lone CR become line feeds).
  static QString DisplayText(const char* text);

 private:
  void OnUiThread(const std::function<void()>& change);
  void ApplyProgress(int id);

  // Read and written on the UI thread only.
  QPointer<QDialog> m_window;
  CProgressModel m_progress;  // the bar as the platform keeps it (UI thread only)
};
