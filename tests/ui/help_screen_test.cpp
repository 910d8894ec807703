// The help windows on a real X screen, the main window run as the program runs it: Help clicked
// four times with the X pointer (xdotool) at its place on the screen opens four help windows,
// each wholly inside the work area and none over Help; with CORVANEL_HELP_EXPECT=beside (a
// screen with room beside the main window) none lies over the main window. tests/ui/on_xvfb.sh
// runs it on a private Xvfb screen of the size CTest names.
#include <QDialog>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "serial/com_mapping_posix.h"
#include "tests/ui/help_windows.h"
#include "ui/download_dlg.h"

namespace {

constexpr int kWaitMs = 10000;

QRect ScreenRect(const QWidget* widget) {
  return {widget->mapToGlobal(QPoint(0, 0)), widget->size()};
}

QString Show(const QRect& rect) {
  return QStringLiteral("%1,%2 %3x%4")
      .arg(rect.x())
      .arg(rect.y())
      .arg(rect.width())
      .arg(rect.height());
}

// Clicks Help with the X pointer, four times, and checks where the help windows opened.
void ClickHelpAndCheck(CDownloadDlg& dlg, bool beside) {
  QWidget* mainWindow = QtWindow(dlg);
  QVERIFY(QTest::qWaitForWindowExposed(mainWindow));
  const QRect help = ScreenRect(QtDlgItem(dlg, IDC_HELP_BUTTON));
  const QRect work = mainWindow->screen()->availableGeometry();
  for (int clicks = 1; clicks <= 4; ++clicks) {
    const QPoint at = help.center();
    QCOMPARE(
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("mousemove"), QString::number(at.x()),
                           QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")}),
        0);
    QTRY_COMPARE_WITH_TIMEOUT(HelpWindows(dlg).size(), clicks, kWaitMs);
  }
  for (CHelpDlg* window : HelpWindows(dlg)) {
    QVERIFY(QTest::qWaitForWindowExposed(QtWindow(*window)));
    const QRect frame = QtWindow(*window)->frameGeometry();
    const QString seen =
        QStringLiteral("help %1, main %2, Help %3, work area %4")
            .arg(Show(frame), Show(mainWindow->frameGeometry()), Show(help), Show(work));
    QVERIFY2(work.contains(frame), qPrintable(seen));
    QVERIFY2(!frame.intersects(help), qPrintable(seen));
    if (beside) QVERIFY2(!frame.intersects(mainWindow->frameGeometry()), qPrintable(seen));
  }
}

}  // namespace

class HelpScreenTest : public QObject {
  Q_OBJECT

 private slots:
  void HelpClickedFourTimes_OpensWindowsThatLeaveTheMainWindowUsable() {
    // No terminal: an empty folder of COM ports, so that detection ends at once.
    const QTemporaryDir ports;
    QVERIFY(ports.isValid());
    qputenv(kComDirVariable, ports.path().toUtf8());
    const bool beside = qEnvironmentVariable("CORVANEL_HELP_EXPECT") == QStringLiteral("beside");
    CDownloadDlg dlg;
    SetMainWindow(&dlg);
    bool checked = false;
    QTimer::singleShot(0, QtWindow(dlg), [&] {
      ClickHelpAndCheck(dlg, beside);
      checked = true;
      dlg.EndDialog(IDCANCEL);
    });
    QTimer::singleShot(60000, QtWindow(dlg), [&] { dlg.EndDialog(-99); });
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    SetMainWindow(nullptr);
    QVERIFY(checked);
  }
};

QTEST_MAIN(HelpScreenTest)
#include "help_screen_test.moc"
