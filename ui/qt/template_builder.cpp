#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "download/progress_model.h"
#include "res/icons.h"
#include "ui/qt/qt_internal.h"
#include "ui/qt/qt_window.h"

using namespace qtui;

namespace {

// Installed fonts that stand in for the classic dialog font, closest metrics first.
// Liberation Sans (Arial's metrics, Debian's fonts-liberation) fits the classic font's 13-pixel
// cell at 8 points; the others are wider or taller.
const QStringList kDialogFontSubstitutes = {
    "Microsoft Sans Serif", "Arial",     "Liberation Sans", "Arimo",
    "Nimbus Sans",          "Helvetica", "DejaVu Sans",
};

// The classic dialog fonts by their cells at 96 dpi: the average width of the alphabet and the
// character height, as the window system measures them.
struct ClassicFont {
  const char* family;
  int points;
  int averageWidth;
  int height;
};
constexpr ClassicFont kClassicFonts[] = {{"MS Sans Serif", 8, 6, 13}};

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
  bar->setValue(0);
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
  // The classic dialog font is a bitmap font no Linux system has: its units are its own cells,
  // scaled from 96 dpi, however wide or tall the substitute that draws the text is.
  const qreal scale = QGuiApplication::primaryScreen() != nullptr
                          ? QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 96.0
                          : 1.0;
  for (const ClassicFont& classic : kClassicFonts) {
    if (font.families().value(0) == QLatin1String(classic.family) &&
        font.pointSize() == classic.points) {
      m_baseX = qRound(classic.averageWidth * scale);
      m_baseY = qRound(classic.height * scale);
      return;
    }
  }
  // Any other font as the window system measures it: the average width of the alphabet's 52
  // letters, rounded as it rounds, and the character height without the line gap.
  const QFontMetrics metrics(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int alphabet = metrics.horizontalAdvance(letters);
  // Twice the average width (the 52 letters over 26), halved with rounding up.
  m_baseX = (alphabet / static_cast<int>(letters.size() / 2) + 1) / 2;
  m_baseY = metrics.ascent() + metrics.descent();
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
