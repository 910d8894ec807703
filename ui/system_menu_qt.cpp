#include "ui/system_menu.h"

bool AppendSystemMenuItem(QWidget* /*window*/, const QString& /*text*/, unsigned /*command*/) {
  return false;
}

bool TranslateSysCommand(const QByteArray& /*eventType*/, void* /*message*/, unsigned& /*command*/,
                         long& /*parameter*/) {
  return false;
}
