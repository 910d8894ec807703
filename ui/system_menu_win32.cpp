#include <windows.h>

#include <QWidget>

#include "ui/system_menu.h"

bool AppendSystemMenuItem(QWidget* window, const QString& text, unsigned command) {
  HMENU menu = ::GetSystemMenu(reinterpret_cast<HWND>(window->winId()), FALSE);
  if (menu == nullptr) {
    return false;
  }
  const std::wstring wide = text.toStdWString();
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, command, wide.c_str());
  return true;
}

bool TranslateSysCommand(const QByteArray& eventType, void* message, unsigned& command,
                         long& parameter) {
  if (eventType != "windows_generic_MSG" || message == nullptr) {
    return false;
  }
  const MSG* msg = static_cast<const MSG*>(message);
  if (msg->message != WM_SYSCOMMAND) {
    return false;
  }
  command = static_cast<unsigned>(msg->wParam);
  parameter = static_cast<long>(msg->lParam);
  return true;
}
