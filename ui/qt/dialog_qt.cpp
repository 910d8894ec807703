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
#include <QScreen>
#include <QStyle>

#include "ui/qt/qt_window.h"

namespace {
constexpr unsigned kScClose = 0xF060;  // the system menu's Close
}  // namespace

// ---- the owner's blocker ----------------------------------------------------------------------

COwnerBlocker::COwnerBlocker(QWidget* owner, QObject* parent)
    : QObject(parent), m_owner(owner), m_blocking(owner != nullptr) {
  if (m_blocking) qApp->installEventFilter(this);
}

COwnerBlocker::~COwnerBlocker() { Release(); }

void COwnerBlocker::Release() {
  if (m_blocking) qApp->removeEventFilter(this);
  m_blocking = false;
}

bool COwnerBlocker::eventFilter(QObject* watched, QEvent* event) {
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

void CQtDialogWindow::EnableControl(QWidget* control, bool enable) {
  if (!enable && control->isEnabled() && focusWidget() == control) {
    // The window itself holds the focus for the disabled control: no control takes keys.
    m_disabledFocus = control;
    setFocus(Qt::OtherFocusReason);
  }
  control->setEnabled(enable);
  if (enable && m_disabledFocus == control) {
    if (focusWidget() == this) control->setFocus(Qt::OtherFocusReason);
    m_disabledFocus.clear();
  }
}

bool CQtDialogWindow::KeysGoNowhere() const {
  return !m_disabledFocus.isNull() && !m_disabledFocus->isEnabled() && focusWidget() == this;
}

bool CQtDialogWindow::event(QEvent* event) {
  // Every key, Tab, Enter and Escape included, while the focus rests on a disabled control.
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
      if (KeysGoNowhere()) {
        event->accept();
        return true;
      }
      break;
    default:
      break;
  }
  return QDialog::event(event);
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
  // templates' 0, 0) relative to its owner's client area, as the window system places it.
  QWidget* owner = m_window->parentWidget();
  const QPoint at = owner != nullptr ? owner->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
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
  if (QWidget* item = QtDlgItem(*this, id)) EnableControl(item, enable);
}

bool CDialog::IsDlgItemEnabled(int id) const {
  const QWidget* item = QtDlgItem(*this, id);
  return item != nullptr && item->isEnabled();
}

namespace {
CRect ToRect(const QRect& rect) {
  return {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}
}  // namespace

CRect CDialog::GetWindowRect() const {
  const QWidget* window = m_part->m_window;
  if (window == nullptr) return {};
  QRect frame = window->frameGeometry();
  const QWidget* owner = window->parentWidget();
  if (!window->isVisible() && frame == window->geometry() && owner != nullptr &&
      owner->isVisible()) {
    // The window manager tells a frame once the window is shown: until then, the owner's.
    const QRect ownerFrame = owner->frameGeometry();
    const QRect ownerClient = owner->geometry();
    frame.adjust(ownerFrame.left() - ownerClient.left(), ownerFrame.top() - ownerClient.top(),
                 ownerFrame.right() - ownerClient.right(),
                 ownerFrame.bottom() - ownerClient.bottom());
  }
  return ToRect(frame);
}

CRect CDialog::GetDlgItemRect(int id) const {
  const QWidget* item = QtDlgItem(*this, id);
  if (item == nullptr) return {};
  return ToRect(QRect(item->mapToGlobal(QPoint(0, 0)), item->size()));
}

CRect CDialog::GetWorkArea() const {
  const QWidget* window = m_part->m_window;
  const QScreen* screen = window != nullptr ? window->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? ToRect(screen->availableGeometry()) : CRect{};
}

void CDialog::SetWindowPos(int x, int y) {
  if (m_part->m_window) m_part->m_window->move(x, y);  // a window's position includes its frame
}

bool CDialog::IsWindowVisible() const { return m_part->m_window && m_part->m_window->isVisible(); }

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

void EnableControl(QWidget* control, bool enable) {
  if (control == nullptr) return;
  if (auto* window = qobject_cast<CQtDialogWindow*>(control->window()))
    window->EnableControl(control, enable);
  else
    control->setEnabled(enable);
}

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
