// Controls by ID on the Qt windows, and the text rules of the window system's controls.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ui/qt/qt_internal.h"
#include "ui/qt/qt_window.h"

using namespace qtui;

namespace {

// The text rules of the window system's controls.

// What a static shows for `text`: "&x" is a mnemonic (x underlined, the ampersand hidden) and
// "&&" one ampersand, unless the static has no-prefix style.
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

// A static breaks lines at "\n" and at "\r\n"; Qt would make two breaks of the pair, so show
// "\n".
QString ForDisplay(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

// A multi-line edit breaks lines at "\r\n" only: a lone "\n" or "\r" breaks nothing and shows
// nothing (the help text's "\n\r\n\r\n" is one blank line there, not two).
QString ForEditDisplay(const QString& text) {
  QString shown;
  shown.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      shown += u'\n';
      ++i;
    } else if (text[i] != u'\r' && text[i] != u'\n') {
      shown += text[i];
    }
  }
  return shown;
}

// The text the operator edited in a multi-line edit, with "\r\n" line breaks.
QString EditedText(const QPlainTextEdit* edit) {
  QString text = edit->toPlainText();
  text.replace(u'\n', QStringLiteral("\r\n"));
  return text;
}
}  // namespace

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
  window->setProperty(kBytesProperty, QVariant());
  if (auto* label = qobject_cast<QLabel*>(window)) {
    const bool noPrefix = label->property(kNoPrefixProperty).toBool();
    label->setText(ForDisplay(noPrefix ? text : StripMnemonics(text)));
  } else if (auto* line = qobject_cast<QLineEdit*>(window)) {
    line->setText(text);
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(window)) {
    edit->setPlainText(ForEditDisplay(text));
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
    if (edit->toPlainText() == ForEditDisplay(stored)) return stored;
    return EditedText(edit);
  }
  if (const auto* button = qobject_cast<const QPushButton*>(window)) return button->text();
  if (window->isWindow()) return window->windowTitle();
  return stored;
}

void SetWindowTextUtf8(QWidget* window, std::string_view text) {
  if (window == nullptr) return;
  const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  SetWindowText(window, shown);
  const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
  if (shown.toUtf8() != bytes) window->setProperty(kBytesProperty, bytes);
}

std::string GetWindowTextUtf8(const QWidget* window) {
  if (window == nullptr) return {};
  const QString shown = GetWindowText(window);
  const QVariant bytes = window->property(kBytesProperty);
  if (bytes.isValid() && QString::fromUtf8(bytes.toByteArray()) == shown) {
    return bytes.toByteArray().toStdString();
  }
  return shown.toStdString();
}
