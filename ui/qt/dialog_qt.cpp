#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPushButton>
#include <QStyle>

#include "ui/dialog.h"

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

// ---- CDialog ------------------------------------------------------------------------------

CDialog::CDialog(int templateId, QWidget* parent)
    : QDialog(parent, Qt::Dialog), m_templateId(templateId) {}

CDialog::~CDialog() = default;

bool CDialog::Build(int templateId, QWidget* owner) {
  if (m_built) return false;
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(templateId);
  if (dialogTemplate == nullptr) return false;
  m_templateId = templateId;
  // A dialog that names no owner belongs to the application's main window.
  if (owner == nullptr) owner = parentWidget();
  if (owner == nullptr && GetMainWindow() != this) owner = GetMainWindow();
  if (owner != parentWidget()) setParent(owner, windowFlags());
  BuildDialogFromTemplate(*this, *dialogTemplate);
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const int id = GetDlgCtrlID(child);
    if (auto* button = qobject_cast<QPushButton*>(child); button != nullptr && id != IDC_STATIC) {
      connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    }
  }
  m_built = true;
  return true;
}

int CDialog::DoModal() {
  if (!m_built && !Build(m_templateId, nullptr)) return -1;
  m_runningModal = true;
  // Modal over its owner only, as the window system runs a dialog: the owner takes no input
  // meanwhile, every other window does (the worker's ownerless boxes, the help windows). Qt's
  // own modality would block those too. Without an owner nothing is blocked.
  setWindowModality(Qt::NonModal);
  COwnerBlocker blocker(parentWidget());
  bool ended = false;
  QEventLoop loop;
  const auto connection = connect(this, &QDialog::finished, &loop, [&] {
    ended = true;
    loop.quit();
  });
  if (OnInitDialog()) FocusFirstTabStop();
  if (!ended) {
    show();
    activateWindow();
    loop.exec(QEventLoop::DialogExec);
  }
  disconnect(connection);
  m_runningModal = false;
  return result();
}

bool CDialog::Create(int templateId, QWidget* parent) {
  if (!Build(templateId != 0 ? templateId : m_templateId, parent)) return false;
  setWindowModality(Qt::NonModal);
  PlaceModeless();
  if (OnInitDialog()) FocusFirstTabStop();
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(m_templateId);
  if (dialogTemplate->style & res::dlg::kVisible) show();
  return true;
}

void CDialog::PlaceModeless() {
  // A modeless dialog is not centred: its client area opens at its template position (the
  // templates' 0, 0) relative to its owner's client area, as the window system places it. One
  // that would stand exactly over a shown dialog of the same template and owner (a second help
  // window) steps down and right by a title bar's height until it covers none, so each is seen as
  // a window of its own.
  QWidget* owner = parentWidget();
  QPoint at = owner != nullptr ? owner->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
  const int step = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
  const QList<CDialog*> twins = owner != nullptr
                                    ? owner->findChildren<CDialog*>(Qt::FindDirectChildrenOnly)
                                    : QList<CDialog*>{};
  for (bool moved = true; moved;) {
    moved = false;
    for (const CDialog* twin : twins) {
      if (twin != this && twin->isVisible() && twin->m_templateId == m_templateId &&
          twin->geometry().topLeft() == at) {
        at += QPoint(step, step);
        moved = true;
      }
    }
  }
  setGeometry(QRect(at, size()));
}

void CDialog::ShowWindow(bool show) { setVisible(show); }

void CDialog::EndDialog(int result) {
  QDialog::done(result);
  if (!m_runningModal && m_autoDelete) deleteLater();
}

QWidget* CDialog::GetDlgItem(int id) const { return ::GetDlgItem(this, id); }
void CDialog::SetDlgItemText(int id, const QString& text) { ::SetWindowText(GetDlgItem(id), text); }
QString CDialog::GetDlgItemText(int id) const { return ::GetWindowText(GetDlgItem(id)); }
void CDialog::EnableDlgItem(int id, bool enable) {
  if (QWidget* item = GetDlgItem(id)) item->setEnabled(enable);
}
bool CDialog::IsDlgItemEnabled(int id) const {
  const QWidget* item = GetDlgItem(id);
  return item != nullptr && item->isEnabled();
}

void CDialog::OnClose() { OnCommand(IDCANCEL); }

void CDialog::accept() { OnCommand(IDOK); }
void CDialog::reject() { OnCommand(IDCANCEL); }

void CDialog::FocusFirstTabStop() {
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->focusPolicy() == Qt::StrongFocus && child->isEnabled() && !child->isHidden()) {
      child->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

int CDialog::DefaultCommandID() const {
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(m_templateId);
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

void CDialog::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (modifiers != Qt::NoModifier) {
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
        const int id = DefaultCommandID();
        const QWidget* target = GetDlgItem(id);
        if (target == nullptr || target->isEnabled()) OnCommand(id);
      }
      event->accept();
      return;
    }
    case Qt::Key_Escape:
      OnCommand(IDCANCEL);
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CDialog::closeEvent(QCloseEvent* event) {
  Dispatch([this] { OnClose(); }, {});
  // The close went through only if the dialog ended.
  if (isVisible())
    event->ignore();
  else
    event->accept();
}

void CDialog::Dispatch(const std::function<void()>& handler,
                       std::function<void()> defaultHandling) {
  std::function<void()> outer = std::exchange(m_default, std::move(defaultHandling));
  handler();
  m_default = std::move(outer);
}

void CDialog::Default() {
  // Once only: a handler that asks twice gets the default handling once.
  if (std::function<void()> handling = std::exchange(m_default, {})) handling();
}

void CDialog::OnSysCommand(unsigned command, long /*parameter*/) {
  if ((command & kSysCommandMask) == kScClose) {
    Dispatch([this] { OnClose(); }, {});
  }
}

CMenu* CDialog::GetSystemMenu(bool /*revert*/) {
  if (m_systemMenu == nullptr) {
    m_systemMenu = new QMenu(this);
    m_systemMenuWrapper = std::make_unique<CMenu>(m_systemMenu);
  }
  return m_systemMenuWrapper.get();
}

QMenu* CDialog::SystemMenu() const {
  return m_systemMenu != nullptr && !m_systemMenu->isEmpty() ? m_systemMenu : nullptr;
}

void CDialog::SetIcon(const CIconHandle& icon, bool /*bigIcon*/) { setWindowIcon(icon); }

void CDialog::GetClientSize(int& width, int& height) const {
  width = this->width();
  height = this->height();
}

void CDialog::contextMenuEvent(QContextMenuEvent* event) {
  if (QMenu* menu = SystemMenu()) {
    menu->exec(event->globalPos());
  }
}

void CDialog::paintEvent(QPaintEvent* event) {
  Dispatch([this] { OnPaint(); }, [this, event] { QDialog::paintEvent(event); });
}
