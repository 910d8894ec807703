// What the Qt backend's parts share: the properties every built control carries and the text
// rules of the window system's controls.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringList>

namespace qtui {

// Dynamic properties every built control carries.
inline constexpr char kIdProperty[] = "dlgCtrlId";  // the template ID
inline constexpr char kTextProperty[] =
    "dlgWindowText";  // the text as last set, before display rules
inline constexpr char kNoPrefixProperty[] = "dlgNoPrefix";  // a static that shows '&' as itself

// What a static shows for `text`: "&x" is a mnemonic (x underlined, the ampersand hidden) and
// "&&" one ampersand, unless the static has no-prefix style.
QString StripMnemonics(const QString& text);
// A multi-line edit breaks lines at "\r\n"; Qt would make two breaks of it, so show "\n".
QString ForDisplay(const QString& text);
// The text the operator edited in a multi-line edit, with "\r\n" line breaks.
QString EditedText(const QPlainTextEdit* edit);

}  // namespace qtui
