// The window's system menu. On Windows the real one gets the About item and its command comes
// back as WM_SYSCOMMAND; elsewhere an application cannot extend the window manager's menu, and
// the main window offers the same item in its context menu instead. One file per platform.
#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

// Appends a separator and an item with `command` to the window's system menu; false where the
// platform has no system menu an application can extend (the caller then uses its own menu).
bool AppendSystemMenuItem(QWidget* window, const QString& text, unsigned command);

// True, with the command and its parameter, when a native message is a system command.
bool TranslateSysCommand(const QByteArray& eventType, void* message, unsigned& command,
                         long& parameter);
