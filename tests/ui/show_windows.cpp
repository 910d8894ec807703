// Shows the windows for a look by eye (not a test): show_windows about|help|main|icons.
// Prints the dialog font and its dialog base units.
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "download/messages.h"
#include "res/icons.h"
#include "ui/about_dlg.h"
#include "ui/help_dlg.h"
#include "ui/qt/qt_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const char* what = argc > 1 ? argv[1] : "about";
  const QFont font = DialogFont(*res::FindDialogTemplate(IDD_MAIN));
  const QFontInfo info(font);
  const CDialogUnits units(font);
  std::printf("font %s %gpt %dpx, base units %d x %d\n", qPrintable(info.family()),
              info.pointSizeF(), info.pixelSize(), units.BaseX(), units.BaseY());
  if (std::strcmp(what, "about") == 0) {
    CAboutDlg about;
    return about.DoModal() == IDOK ? 0 : 1;
  }
  if (std::strcmp(what, "help") == 0) {
    auto* help = new CHelpDlg();
    help->Create(IDD_HELP);
    help->ShowWindow(true);
    QObject::connect(QtWindow(*help), &QDialog::finished, &app, &QApplication::quit);
    return app.exec();
  }
  if (std::strcmp(what, "main") == 0) {
    CDialog main(IDD_MAIN);
    main.Create();
    QtWindow(main)->setWindowIcon(res::LoadIcon(IDI_APP));
    main.SetDlgItemText(IDC_STATUS, kStatusIdle);
    main.SetDlgItemText(IDC_MESSAGE, kConnectedMessage);
    main.SetDlgItemText(IDC_WARNING, kWarningText);
    QObject::connect(QtWindow(main), &QDialog::finished, &app, &QApplication::quit);
    return app.exec();
  }
  // icons: each picture magnified eight times.
  QWidget sheet;
  sheet.setStyleSheet("background: #d4d0c8");
  int x = 8;
  for (auto [id, size] : {std::pair{IDI_APP, 32}, {IDI_APP, 16}, {IDI_MARK, 22}}) {
    auto* label = new QLabel(&sheet);
    label->setPixmap(QPixmap::fromImage(res::IconImage(id, size).scaled(size * 8, size * 8)));
    label->setGeometry(x, 8, size * 8, size * 8);
    auto* real = new QLabel(&sheet);
    real->setPixmap(QPixmap::fromImage(res::IconImage(id, size)));
    real->setGeometry(x, 280, size, size);
    x += size * 8 + 16;
  }
  sheet.resize(x, 320);
  sheet.show();
  return app.exec();
}
