#include "ui/dialog.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "download/progress_model.h"
#include "res/icons.h"

namespace {

// Dynamic properties every built control carries.
constexpr char kIdProperty[] = "dlgCtrlId";          // the template ID
constexpr char kTextProperty[] = "dlgWindowText";    // the text as last set, before display rules
constexpr char kNoPrefixProperty[] = "dlgNoPrefix";  // a static that shows '&' as itself

// Installed fonts that stand in for the classic dialog font, closest metrics first.
const QStringList kDialogFontSubstitutes = {
    "Microsoft Sans Serif", "Arial",     "Liberation Sans", "Arimo",
    "Nimbus Sans",          "Helvetica", "DejaVu Sans",
};

QPointer<QWidget> g_mainWindow;

// What a static shows for `text`: the window system takes "&x" as a mnemonic (x underlined, the
// ampersand hidden) and "&&" as one ampersand, unless the static has no-prefix style.
QString StripMnemonics(const QString& text) {
  QString shown;
  shown.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size())
      ++i;
    else if (text[i] == u'&')
      continue;
    shown += text[i];
  }
  return shown;
}

// A multi-line edit breaks lines at "\r\n"; Qt would make two breaks of it, so show "\n".
QString ForDisplay(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

QString EditedText(const QPlainTextEdit* edit) {
  QString text = edit->toPlainText();
  text.replace(u'\n', QStringLiteral("\r\n"));
  return text;
}

Qt::WindowFlags DialogWindowFlags(const res::DialogTemplate& dialogTemplate) {
  // An application window gets a taskbar button of its own; other dialogs stay with their owner.
  Qt::WindowFlags flags = (dialogTemplate.style & res::dlg::kAppWindow) ? Qt::Window : Qt::Dialog;
  flags |= Qt::CustomizeWindowHint;  // no minimise, maximise or context-help buttons
  if (dialogTemplate.style & res::dlg::kCaption) flags |= Qt::WindowTitleHint;
  if (dialogTemplate.style & res::dlg::kSysMenu) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  }
  return flags;
}

Qt::FocusPolicy PolicyFor(std::uint32_t style) {
  return (style & res::ctl::kTabStop) ? Qt::StrongFocus : Qt::ClickFocus;
}

QWidget* MakeStatic(const res::ControlTemplate& control, QWidget* parent) {
  auto* label = new QLabel(parent);
  // Plain text always: texts set later must never be taken for markup.
  label->setTextFormat(Qt::PlainText);
  // Static text of the window system is left-aligned unless styled otherwise, wraps at word
  // boundaries and starts at the top-left corner.
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setContentsMargins(0, 0, 0, 0);
  label->setMargin(0);
  label->setIndent(0);
  label->setFocusPolicy(Qt::NoFocus);
  label->setProperty(kNoPrefixProperty, (control.style & res::ctl::kNoPrefix) != 0);
  return label;
}

QWidget* MakeEdit(const res::ControlTemplate& control, QWidget* parent) {
  const std::uint32_t style = control.style;
  if (style & res::ctl::kMultiLine) {
    auto* edit = new QPlainTextEdit(parent);
    edit->setReadOnly(style & res::ctl::kReadOnly);
    if (style & res::ctl::kReadOnly) {
      edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    edit->setVerticalScrollBarPolicy((style & res::ctl::kVScroll) ? Qt::ScrollBarAlwaysOn
                                                                  : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Without horizontal scrolling a multi-line edit wraps its lines at the control's width.
    edit->setLineWrapMode((style & res::ctl::kAutoHScroll) ? QPlainTextEdit::NoWrap
                                                           : QPlainTextEdit::WidgetWidth);
    edit->setTabChangesFocus(true);  // Tab moves through the dialog, as in any dialog
    const bool framed = style & (res::ctl::kBorder | res::ctl::kClientEdge | res::ctl::kStaticEdge);
    edit->setFrameStyle(framed ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
    edit->setFocusPolicy(PolicyFor(style));
    return edit;
  }
  auto* edit = new QLineEdit(parent);
  edit->setFrame(style & (res::ctl::kBorder | res::ctl::kClientEdge));
  edit->setReadOnly(style & res::ctl::kReadOnly);
  edit->setFocusPolicy(PolicyFor(style));
  return edit;
}

QWidget* MakePushButton(const res::ControlTemplate& control, QWidget* parent) {
  auto* button = new QPushButton(parent);
  // Only the template's default push button answers Enter by itself; the dialog decides the rest.
  button->setAutoDefault(false);
  button->setDefault(control.style & res::ctl::kDefPushButton);
  button->setFocusPolicy(PolicyFor(control.style));
  return button;
}

QWidget* MakeProgressBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  // The window system's bar starts empty over 0 to 100 and shows no percentage.
  bar->setRange(CProgressModel::kDefaultLower, CProgressModel::kDefaultUpper);
  bar->setValue(CProgressModel::kDefaultLower);
  bar->setTextVisible(false);
  bar->setFocusPolicy(Qt::NoFocus);
  return bar;
}

QWidget* MakeStaticIcon(const res::ControlTemplate& control, QWidget* parent) {
  auto* label = new QLabel(parent);
  const QIcon icon = res::LoadIcon(control.icon);
  const QList<QSize> sizes = icon.availableSizes();
  if (!sizes.isEmpty()) label->setPixmap(icon.pixmap(sizes.front()));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setContentsMargins(0, 0, 0, 0);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

QWidget* MakeControl(const res::ControlTemplate& control, QWidget* parent) {
  switch (control.kind) {
    case res::ControlKind::Static:
      return MakeStatic(control, parent);
    case res::ControlKind::Edit:
      return MakeEdit(control, parent);
    case res::ControlKind::PushButton:
      return MakePushButton(control, parent);
    case res::ControlKind::ProgressBar:
      return MakeProgressBar(parent);
    case res::ControlKind::StaticIcon:
      return MakeStaticIcon(control, parent);
  }
  return new QWidget(parent);
}

}  // namespace

// ---- dialog units -------------------------------------------------------------------------

CDialogUnits::CDialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  m_baseX = metrics.averageCharWidth();
  m_baseY = metrics.height();
}

// (value * base) / divisor, rounded half away from zero like the window system's MulDiv.
static int MulDivRound(int value, int base, int divisor) {
  const long long product = static_cast<long long>(value) * base;
  const long long half = divisor / 2;
  return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

int CDialogUnits::MapX(int dluX) const { return MulDivRound(dluX, m_baseX, 4); }
int CDialogUnits::MapY(int dluY) const { return MulDivRound(dluY, m_baseY, 8); }

QRect CDialogUnits::MapRect(const res::DluRect& rect) const {
  // Position and size are mapped each on its own, as the dialog manager creates controls.
  return QRect(MapX(rect.x), MapY(rect.y), MapX(rect.cx), MapY(rect.cy));
}

QFont DialogFont(const res::DialogTemplate& dialogTemplate) {
  QFont font;
  QStringList families{QString::fromUtf8(dialogTemplate.fontName.data(),
                                         static_cast<qsizetype>(dialogTemplate.fontName.size()))};
  families += kDialogFontSubstitutes;
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(dialogTemplate.fontPointSize);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

// ---- the builder --------------------------------------------------------------------------

void BuildDialogFromTemplate(QDialog& dialog, const res::DialogTemplate& dialogTemplate) {
  dialog.setWindowFlags(DialogWindowFlags(dialogTemplate));
  dialog.setWindowTitle(QString::fromUtf8(dialogTemplate.caption.data(),
                                          static_cast<qsizetype>(dialogTemplate.caption.size())));
  dialog.setFont(DialogFont(dialogTemplate));
  dialog.setSizeGripEnabled(false);
  const CDialogUnits units(dialog.font());
  dialog.setFixedSize(units.MapX(dialogTemplate.cx), units.MapY(dialogTemplate.cy));

  QWidget* previous = nullptr;
  for (const res::ControlTemplate& control : dialogTemplate.controls) {
    QWidget* widget = MakeControl(control, &dialog);
    widget->setProperty(kIdProperty, control.id);
    widget->setGeometry(units.MapRect(control.rect));
    if (control.kind != res::ControlKind::StaticIcon &&
        control.kind != res::ControlKind::ProgressBar) {
      SetWindowText(widget, QString::fromUtf8(control.text.data(),
                                              static_cast<qsizetype>(control.text.size())));
    } else {
      widget->setProperty(
          kTextProperty,
          QString::fromUtf8(control.text.data(), static_cast<qsizetype>(control.text.size())));
    }
    widget->setVisible(control.style & res::ctl::kVisible);
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

// ---- controls by ID -----------------------------------------------------------------------

QWidget* GetDlgItem(const QWidget* dialog, int id) {
  if (dialog == nullptr || id == IDC_STATIC) return nullptr;
  const QList<QWidget*> children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    const QVariant value = child->property(kIdProperty);
    if (value.isValid() && value.toInt() == id) return child;
  }
  return nullptr;
}

int GetDlgCtrlID(const QWidget* control) {
  if (control == nullptr) return IDC_STATIC;
  const QVariant value = control->property(kIdProperty);
  return value.isValid() ? value.toInt() : IDC_STATIC;
}

void SetWindowText(QWidget* window, const QString& text) {
  if (window == nullptr) return;
  window->setProperty(kTextProperty, text);
  if (auto* label = qobject_cast<QLabel*>(window)) {
    const bool noPrefix = label->property(kNoPrefixProperty).toBool();
    label->setText(ForDisplay(noPrefix ? text : StripMnemonics(text)));
  } else if (auto* line = qobject_cast<QLineEdit*>(window)) {
    line->setText(text);
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(window)) {
    edit->setPlainText(ForDisplay(text));
  } else if (auto* button = qobject_cast<QPushButton*>(window)) {
    button->setText(text);
  } else if (window->isWindow()) {
    window->setWindowTitle(text);
  }
}

QString GetWindowText(const QWidget* window) {
  if (window == nullptr) return {};
  QString stored = window->property(kTextProperty).toString();
  if (const auto* line = qobject_cast<const QLineEdit*>(window)) return line->text();
  if (const auto* edit = qobject_cast<const QPlainTextEdit*>(window)) {
    // The text as set, while the control still shows it; what the operator typed otherwise.
    if (edit->toPlainText() == ForDisplay(stored)) return stored;
    return EditedText(edit);
  }
  if (const auto* button = qobject_cast<const QPushButton*>(window)) return button->text();
  if (window->isWindow()) return window->windowTitle();
  return stored;
}

void SetMainWindow(QWidget* window) { g_mainWindow = window; }
QWidget* GetMainWindow() { return g_mainWindow; }

// ---- CControl -----------------------------------------------------------------------------

void CControl::SetWindowText(const QString& text) { ::SetWindowText(m_widget, text); }
QString CControl::GetWindowText() const { return ::GetWindowText(m_widget); }
void CControl::EnableWindow(bool enable) {
  if (m_widget) m_widget->setEnabled(enable);
}
bool CControl::IsWindowEnabled() const { return m_widget && m_widget->isEnabled(); }

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
  int result = 0;
  if (parentWidget() == nullptr) {
    // A modal run without an owner disables no other window: the ownerless boxes the download
    // worker shows beside the main window must take the operator's input.
    setWindowModality(Qt::NonModal);
    bool ended = false;
    QEventLoop loop;
    const auto connection = connect(this, &QDialog::finished, &loop, [&] {
      ended = true;
      loop.quit();
    });
    if (OnInitDialog()) FocusFirstTabStop();
    if (!ended) {
      show();
      loop.exec(QEventLoop::DialogExec);
    }
    disconnect(connection);
    result = this->result();
  } else {
    if (OnInitDialog()) FocusFirstTabStop();
    setWindowModality(Qt::ApplicationModal);
    result = exec();
  }
  m_runningModal = false;
  return result;
}

bool CDialog::Create(int templateId, QWidget* parent) {
  if (!Build(templateId != 0 ? templateId : m_templateId, parent)) return false;
  setWindowModality(Qt::NonModal);
  if (OnInitDialog()) FocusFirstTabStop();
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(m_templateId);
  if (dialogTemplate->style & res::dlg::kVisible) show();
  return true;
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

void CDialog::DDX_Control(CControl& control, int id) {
  control.m_widget = GetDlgItem(id);
  control.m_id = id;
}

bool CDialog::OnInitDialog() {
  DoDataExchange();
  return true;
}

void CDialog::DoDataExchange() {}

bool CDialog::OnCommand(int id) {
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
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
  OnClose();
  // The close went through only if the dialog ended.
  if (isVisible())
    event->ignore();
  else
    event->accept();
}
