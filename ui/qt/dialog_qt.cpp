// CDialog on Qt: the dialog's window (CQtDialogWindow), made at construction and built from the
// template by Create() or DoModal(), its modal run, its keys and where it opens.
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPushButton>
#include <QStyle>

#include "ui/qt/qt_window.h"

namespace {
constexpr unsigned kScClose = 0xF060;  // the system menu's Close

// Keeps the operator's input away from one window (and its controls) while it lives, as a
// disabled owner is kept from input during a modal run; the window still paints and changes.
class COwnerBlocker : public QObject {
 public:
  explicit COwnerBlocker(QWidget* owner) : m_owner(owner) {
    if (m_owner != nullptr) qApp->installEventFilter(this);
  }
  ~COwnerBlocker() override {
    if (m_owner != nullptr) qApp->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::Close:
        break;
      default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || m_owner.isNull() || widget->window() != m_owner) return false;
    event->ignore();  // a close that is not carried out
    return true;
  }

 private:
  QPointer<QWidget> m_owner;
};

}  // namespace

// ---- the window ---------------------------------------------------------------------------

CQtDialogWindow::CQtDialogWindow(CDialog& dialog, QWidget* parent)
    : QDialog(parent, Qt::Dialog), m_dialog(&dialog) {}

CQtDialogWindow::~CQtDialogWindow() {
  // Destroyed with its owner (Qt deletes a parent's children), or after an auto-delete dialog
  // ended: an auto-delete dialog goes with its window, any other one stays without it.
  if (CDialog* dialog = std::exchange(m_dialog, nullptr)) dialog->WindowPart().WindowGone();
}

void CQtDialogWindow::accept() {
  if (m_dialog != nullptr) m_dialog->OnCommand(IDOK);
}

void CQtDialogWindow::reject() {
  if (m_dialog != nullptr) m_dialog->OnCommand(IDCANCEL);
}

void CQtDialogWindow::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (m_dialog == nullptr || modifiers != Qt::NoModifier) {
    QDialog::keyPressEvent(event);
    return;
  }
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      // Enter presses the focused push button; otherwise it is the default button's command,
      // IDOK when there is none. A disabled default button takes no command.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget());
          button != nullptr && button->isEnabled()) {
        button->click();
      } else {
        const int id = m_dialog->WindowPart().DefaultCommandID();
        const QWidget* target = GetDlgItem(this, id);
        if (target == nullptr || target->isEnabled()) m_dialog->OnCommand(id);
      }
      event->accept();
      return;
    }
    case Qt::Key_Escape:
      m_dialog->OnCommand(IDCANCEL);
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CQtDialogWindow::closeEvent(QCloseEvent* event) {
  if (m_dialog != nullptr) {
    CDialog::CWindowPart& part = m_dialog->WindowPart();
    part.Dispatch([&part] { part.Close(); }, {});
  }
  // The close went through only if the dialog ended.
  if (isVisible())
    event->ignore();
  else
    event->accept();
}

void CQtDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (QMenu* menu = m_dialog != nullptr ? QtSystemMenu(*m_dialog) : nullptr) {
    menu->exec(event->globalPos());
  }
}

void CQtDialogWindow::paintEvent(QPaintEvent* event) {
  if (m_dialog == nullptr) {
    QDialog::paintEvent(event);
    return;
  }
  CDialog::CWindowPart& part = m_dialog->WindowPart();
  part.Dispatch([&part] { part.Paint(); }, [this, event] { QDialog::paintEvent(event); });
}

// ---- the window part --------------------------------------------------------------------------

CDialog::CWindowPart::CWindowPart(CDialog& owner, QWidget* parent)
    : m_dialog(owner), m_window(new CQtDialogWindow(owner, parent)) {}

CDialog::CWindowPart::~CWindowPart() {
  if (m_window) {
    m_window->ForgetDialog();
    delete m_window.data();
  }
}

void CDialog::CWindowPart::WindowGone() {
  m_window.clear();
  if (m_dialog.m_autoDelete) delete &m_dialog;
}

bool CDialog::CWindowPart::Build(int templateId, CWnd* owner) {
  if (m_built || !m_window) return false;
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(templateId);
  if (dialogTemplate == nullptr) return false;
  m_dialog.m_templateId = templateId;
  // A dialog that names no owner belongs to its parent, else to the application's main window.
  if (owner == nullptr) owner = m_dialog.m_parent;
  if (owner == nullptr && GetMainWindow() != &m_dialog) owner = GetMainWindow();
  QWidget* ownerWindow = owner != nullptr ? QtWindow(*owner) : nullptr;
  if (ownerWindow != m_window->parentWidget())
    m_window->setParent(ownerWindow, m_window->windowFlags());
  BuildDialogFromTemplate(*m_window, *dialogTemplate);
  for (QWidget* child : m_window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const int id = GetDlgCtrlID(child);
    if (auto* button = qobject_cast<QPushButton*>(child); button != nullptr && id != IDC_STATIC) {
      CDialog* self = &m_dialog;
      QObject::connect(button, &QPushButton::clicked, m_window,
                       [self, id] { self->OnCommand(id); });
    }
  }
  m_built = true;
  return true;
}

void CDialog::CWindowPart::PlaceModeless() {
  // A modeless dialog is not centred: its client area opens at its template position (the
  // templates' 0, 0) relative to its owner's client area, as the window system places it. One
  // that would stand exactly over a shown dialog of the same template and owner (a second help
  // window) steps down and right by a title bar's height until it covers none, so each is seen as
  // a window of its own.
  QWidget* owner = m_window->parentWidget();
  QPoint at = owner != nullptr ? owner->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
  const int step = m_window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, m_window);
  const QList<CQtDialogWindow*> twins =
      owner != nullptr ? owner->findChildren<CQtDialogWindow*>(Qt::FindDirectChildrenOnly)
                       : QList<CQtDialogWindow*>{};
  for (bool moved = true; moved;) {
    moved = false;
    for (const CQtDialogWindow* twin : twins) {
      if (twin != m_window && twin->isVisible() && twin->Dialog() != nullptr &&
          twin->Dialog()->m_templateId == m_dialog.m_templateId &&
          twin->geometry().topLeft() == at) {
        at += QPoint(step, step);
        moved = true;
      }
    }
  }
  m_window->setGeometry(QRect(at, m_window->size()));
}

void CDialog::CWindowPart::FocusFirstTabStop() {
  for (QWidget* child : m_window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->focusPolicy() == Qt::StrongFocus && child->isEnabled() && !child->isHidden()) {
      child->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

int CDialog::CWindowPart::DefaultCommandID() const {
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(m_dialog.m_templateId);
  if (dialogTemplate != nullptr) {
    for (const res::ControlTemplate& control : dialogTemplate->controls) {
      if (control.kind == res::ControlKind::PushButton &&
          (control.style & res::ctl::kDefPushButton)) {
        return control.id;
      }
    }
  }
  return IDOK;
}

void CDialog::CWindowPart::Dispatch(const std::function<void()>& handler,
                                    std::function<void()> handling) {
  std::function<void()> outer = std::exchange(m_default, std::move(handling));
  handler();
  m_default = std::move(outer);
}

// ---- CDialog --------------------------------------------------------------------------------

CDialog::CDialog(int templateId, CWnd* parent)
    : m_templateId(templateId),
      m_parent(parent),
      m_part(
          std::make_unique<CWindowPart>(*this, parent != nullptr ? QtWindow(*parent) : nullptr)) {}

CDialog::~CDialog() {
  if (GetMainWindow() == this) SetMainWindow(nullptr);
}

int CDialog::DoModal() {
  CQtDialogWindow* window = m_part->m_window;
  if (window == nullptr || (!m_part->m_built && !m_part->Build(m_templateId, nullptr))) return -1;
  m_runningModal = true;
  // Modal over its owner only, as the window system runs a dialog: the owner takes no input
  // meanwhile, every other window does (the worker's ownerless boxes, the help windows). Qt's
  // own modality would block those too. Without an owner nothing is blocked.
  window->setWindowModality(Qt::NonModal);
  COwnerBlocker blocker(window->parentWidget());
  bool ended = false;
  QEventLoop loop;
  const auto connection = QObject::connect(window, &QDialog::finished, &loop, [&] {
    ended = true;
    loop.quit();
  });
  if (OnInitDialog()) m_part->FocusFirstTabStop();
  if (!ended) {
    window->show();
    window->activateWindow();
    loop.exec(QEventLoop::DialogExec);
  }
  QObject::disconnect(connection);
  m_runningModal = false;
  return window->result();
}

bool CDialog::Create(int templateId, CWnd* parent) {
  if (!m_part->Build(templateId != 0 ? templateId : m_templateId, parent)) return false;
  m_part->m_window->setWindowModality(Qt::NonModal);
  m_part->PlaceModeless();
  if (OnInitDialog()) m_part->FocusFirstTabStop();
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(m_templateId);
  if (m_part->m_window && (dialogTemplate->style & res::dlg::kVisible)) m_part->m_window->show();
  return true;
}

void CDialog::ShowWindow(bool show) {
  if (m_part->m_window) m_part->m_window->setVisible(show);
}

void CDialog::EndDialog(int result) {
  CQtDialogWindow* window = m_part->m_window;
  if (window == nullptr) return;
  window->done(result);
  // An ended auto-delete dialog goes with its window, once the current event is done.
  if (!m_runningModal && m_autoDelete) window->deleteLater();
}

bool CDialog::HasDlgItem(int id) const { return QtDlgItem(*this, id) != nullptr; }

void CDialog::SetDlgItemText(int id, const char* text) {
  SetWindowTextUtf8(QtDlgItem(*this, id), text != nullptr ? text : "");
}

std::string CDialog::GetDlgItemText(int id) const {
  return GetWindowTextUtf8(QtDlgItem(*this, id));
}

void CDialog::EnableDlgItem(int id, bool enable) {
  if (QWidget* item = QtDlgItem(*this, id)) item->setEnabled(enable);
}

bool CDialog::IsDlgItemEnabled(int id) const {
  const QWidget* item = QtDlgItem(*this, id);
  return item != nullptr && item->isEnabled();
}

void CDialog::OnClose() { OnCommand(IDCANCEL); }

void CDialog::Default() {
  // Once only: a handler that asks twice gets the default handling once.
  if (std::function<void()> handling = std::exchange(m_part->m_default, {})) handling();
}

void CDialog::OnSysCommand(unsigned command, long /*parameter*/) {
  if ((command & kSysCommandMask) == kScClose) {
    m_part->Dispatch([this] { OnClose(); }, {});
  }
}

CMenu* CDialog::GetSystemMenu(bool /*revert*/) {
  if (!m_part->m_window) return nullptr;
  if (m_part->m_systemMenu == nullptr) m_part->m_systemMenu = new QMenu(m_part->m_window);
  return &m_systemMenu;
}

void CDialog::SetIcon(CIconHandle icon, bool /*bigIcon*/) {
  if (m_part->m_window) m_part->m_window->setWindowIcon(icon != nullptr ? icon->icon : QIcon());
}

bool CDialog::IsIconic() const { return m_part->m_window && m_part->m_window->isMinimized(); }

void CDialog::GetClientSize(int& width, int& height) const {
  width = m_part->m_window ? m_part->m_window->width() : 0;
  height = m_part->m_window ? m_part->m_window->height() : 0;
}

// ---- the backend's views --------------------------------------------------------------------

QDialog* QtWindow(const CDialog& dialog) { return dialog.WindowPart().m_window; }

QWidget* QtDlgItem(const CDialog& dialog, int id) { return GetDlgItem(QtWindow(dialog), id); }

QWidget* QtWidget(const CControl& control) {
  return control.Dialog() != nullptr ? QtDlgItem(*control.Dialog(), control.ID()) : nullptr;
}

CDialog* DialogOfWindow(const QObject* window) {
  const auto* ours = qobject_cast<const CQtDialogWindow*>(window);
  return ours != nullptr ? ours->Dialog() : nullptr;
}

QMenu* QtSystemMenu(const CDialog& dialog) {
  QMenu* menu = dialog.WindowPart().m_systemMenu;
  return menu != nullptr && !menu->isEmpty() ? menu : nullptr;
}
