#include "ui/qt/window_link_qt.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QIcon>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QThread>
#include <future>

CQtWindowLink::CQtWindowLink(CDialog& window) : m_window(QtWindow(window)) {}

CQtWindowLink::~CQtWindowLink() = default;

QString CQtWindowLink::DisplayText(const char* text) {
  QString shown = QString::fromUtf8(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

void CQtWindowLink::OnUiThread(const std::function<void()>& change) {
  if (QThread::currentThread() == thread()) {
    change();
  } else {
    QMetaObject::invokeMethod(this, change, Qt::BlockingQueuedConnection);
  }
}

std::string CQtWindowLink::GetItemText(int id) {
  std::string text;
  OnUiThread([&] { text = GetWindowTextUtf8(GetDlgItem(m_window, id)); });
  return text;
}

void CQtWindowLink::SetItemText(int id, const char* text) {
  OnUiThread([&] { SetWindowTextUtf8(GetDlgItem(m_window, id), text != nullptr ? text : ""); });
}

void CQtWindowLink::EnableItem(int id, bool enable) {
  OnUiThread([&] { EnableControl(GetDlgItem(m_window, id), enable); });
}

void CQtWindowLink::ApplyProgress(int id) {
  auto* bar = qobject_cast<QProgressBar*>(GetDlgItem(m_window, id));
  if (bar == nullptr) {
    return;
  }
  bar->setTextVisible(false);
  if (!m_progress.Empty()) {
    bar->setRange(m_progress.Lower(), m_progress.Upper());
    bar->setValue(m_progress.Pos());
  } else {
    // Qt would animate a busy bar for an empty range: show it as a bar of one unit instead.
    bar->setRange(0, 1);
    bar->setValue(m_progress.Filled(1));
  }
}

void CQtWindowLink::SetProgressRange(int id, std::int32_t lower, std::int32_t upper) {
  OnUiThread([&] {
    m_progress.SetRange(lower, upper);
    ApplyProgress(id);
  });
}

// A Qt bar has no step, and the engine never asks for a step-it: nothing to carry over.
void CQtWindowLink::SetProgressStep(int /*id*/, std::int32_t /*step*/) {}

void CQtWindowLink::SetProgressPos(int id, std::int32_t position) {
  OnUiThread([&] {
    m_progress.SetPos(position);
    ApplyProgress(id);
  });
}

void CQtWindowLink::MessageBox(BoxOwner owner, const char* text, const char* caption) {
  const QString shownText = DisplayText(text);
  const QString shownCaption = QString::fromUtf8(caption);
  // Built and shown on the UI thread. An ownerless box leaves the main window usable; the
  // main window's own boxes keep input from it alone, as the platform's box does from its
  // owner (Qt's modality would block the help windows too). The caller waits for OK either way.
  auto makeBox = [this, owner, shownText, shownCaption] {
    QWidget* parent = owner == BoxOwner::MainWindow ? m_window.data() : nullptr;
    auto* box =
        new QMessageBox(QMessageBox::NoIcon, shownCaption, shownText, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    if (parent != nullptr) {
      auto* blocker = new COwnerBlocker(parent, box);
      QObject::connect(box, &QMessageBox::finished, blocker, &COwnerBlocker::Release);
    }
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
      ok->setIcon(QIcon());  // one plain OK button, no icon anywhere
    }
    return box;
  };
  if (QThread::currentThread() == thread()) {
    QEventLoop loop;
    QMessageBox* box = makeBox();
    QObject::connect(box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    box->show();
    box->raise();
    box->activateWindow();
    loop.exec();
    return;
  }
  std::promise<void> pressed;
  std::future<void> done = pressed.get_future();
  QMetaObject::invokeMethod(
      this,
      [&] {
        QMessageBox* box = makeBox();
        // Once only: the promise is gone as soon as the caller has been released.
        QObject::connect(
            box, &QMessageBox::finished, box, [&pressed] { pressed.set_value(); },
            Qt::SingleShotConnection);
        box->show();
        box->raise();
        box->activateWindow();
      },
      Qt::BlockingQueuedConnection);
  done.wait();
}
