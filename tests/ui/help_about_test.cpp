// The help window (modeless, one per press, same text, hides and frees itself) and the modal
// About box.
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "download/window_link.h"
#include "res/help_text.h"
#include "tests/ui/help_windows.h"
#include "ui/about_dlg.h"
#include "ui/help_dlg.h"
#include "ui/help_place.h"
#include "ui/qt/qt_window.h"

Q_DECLARE_METATYPE(CRect)

namespace QTest {
template <>
char* toString(const CRect& rect) {
  return qstrdup(QStringLiteral("(%1, %2) - (%3, %4)")
                     .arg(rect.left)
                     .arg(rect.top)
                     .arg(rect.right)
                     .arg(rect.bottom)
                     .toUtf8()
                     .constData());
}
}  // namespace QTest

namespace {

QString HelpTextString() {
  const std::string_view text = res::HelpText();
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Opens a help window as the Help button does: new, created without naming a parent, shown.
CHelpDlg* PressHelp(CDialog* mainWindow) {
  auto* help = new CHelpDlg(mainWindow);
  if (!help->Create(IDD_HELP)) return nullptr;
  help->ShowWindow(true);
  return help;
}

// Runs the About box modally; `act` runs on it once it is shown. A watchdog ends a modal run that
// `act` failed to end, so that a fault fails the test instead of hanging it.
int RunAbout(CAboutDlg& about, const std::function<void(CAboutDlg&)>& act) {
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (QtWindow(about)->isVisible() && about.IsRunningModal()) {
      poll.stop();
      act(about);
    }
  });
  poll.start();
  QTimer::singleShot(10000, QtWindow(about), [&] { about.EndDialog(-99); });
  return about.DoModal();
}

QLabel* AboutLine(CAboutDlg& about, int index) {
  QList<QLabel*> labels = QtWindow(about)->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  return index < labels.size() ? labels[index] : nullptr;
}

}  // namespace

class HelpAboutTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
  void ThreePresses_GiveThreeWindowsWithTheSameText();
  void HelpText_ShownWithOneBreakPerLine();
  void HelpPlace_BesideTheMainWindowInsideTheWorkArea_data();
  void HelpPlace_BesideTheMainWindowInsideTheWorkArea();
  void HelpWindows_OpenAtTheFirstFreePlaceBesideTheOwner();
  void About_OpensCentredOverTheMainWindow();
  void HelpWindow_IsReadOnlyButSelectableAndScrolls();
  void HelpWindow_FocusStartsOnOK();
  void HelpWindow_EndedBy_HidesAndFreesOnlyItself_data();
  void HelpWindow_EndedBy_HidesAndFreesOnlyItself();
  void HelpWindows_DestroyedWithMainWindow();
  void About_FirstLineKeepsTwoBlanksAndAmpersands();
  void About_EndedBy_ReturnsCommand_data();
  void About_EndedBy_ReturnsCommand();
  void ModalOverTheMainWindow_BlocksOnlyIt_data();
  void ModalOverTheMainWindow_BlocksOnlyIt();
};

void HelpAboutTest::ThreePresses_GiveThreeWindowsWithTheSameText() {
  CDialog mainWindow(IDD_MAIN);
  QtWindow(mainWindow)->show();
  QList<CHelpDlg*> windows;
  for (int press = 0; press < 3; ++press) windows << PressHelp(&mainWindow);
  QCOMPARE(HelpWindows(mainWindow).size(), 3);
  for (CHelpDlg* help : windows) {
    QVERIFY(help != nullptr);
    QVERIFY(QtWindow(*help)->isVisible());
    QVERIFY(QtWindow(*help)->isWindow());
    QCOMPARE(QtWindow(*help)->parentWidget(), QtWindow(mainWindow));
    QCOMPARE(QtWindow(*help)->windowTitle(), QString("Help"));
    QCOMPARE(QString::fromStdString(help->GetDlgItemText(IDC_HELP_TEXT)), HelpTextString());
    QCOMPARE(QString::fromStdString(help->GetDlgItemText(IDC_HELP_TEXT)).size(), 2807);
    QCOMPARE(QtWidget(help->m_helpText), QtDlgItem(*help, IDC_HELP_TEXT));
  }
  QVERIFY(!QtWindow(mainWindow)->isHidden());  // the main window stays usable: no modality
  for (CHelpDlg* help : windows) QCOMPARE(QtWindow(*help)->windowModality(), Qt::NonModal);
}

// Help windows 494 x 456 px beside a main window of 437 x 499 px, cascaded by 26 px.
void HelpAboutTest::HelpPlace_BesideTheMainWindowInsideTheWorkArea_data() {
  QTest::addColumn<CRect>("mainWindow");
  QTest::addColumn<CRect>("work");
  QTest::addColumn<int>("index");
  QTest::addColumn<CRect>("place");
  const CRect wide{0, 0, 1920, 1040};  // 1920 x 1080 less a task bar
  const CRect centredWide{741, 270, 1178, 769};
  const CRect small{0, 0, 1024, 768};
  const CRect centredSmall{293, 134, 730, 633};
  QTest::newRow("1920: right of it, tops level")
      << centredWide << wide << 0 << CRect{1178, 270, 1672, 726};
  QTest::newRow("1920: second a step down and right")
      << centredWide << wide << 1 << CRect{1204, 296, 1698, 752};
  QTest::newRow("1920: down only at the work area's right")
      << centredWide << wide << 12 << CRect{1426, 582, 1920, 1038};
  QTest::newRow("1920: past the bottom, the first place again")
      << centredWide << wide << 13 << CRect{1178, 270, 1672, 726};
  QTest::newRow("1920: no room on the right, left of it, cascading left")
      << CRect{1400, 100, 1837, 599} << wide << 1 << CRect{880, 126, 1374, 582};
  QTest::newRow("1920: task bar on top, main window above it")
      << CRect{741, 10, 1178, 509} << CRect{0, 40, 1920, 1080} << 0 << CRect{1178, 40, 1672, 496};
  QTest::newRow("1024: the side with more room, in the work area")
      << centredSmall << small << 0 << CRect{530, 134, 1024, 590};
  QTest::newRow("1024: third cascades down at the edge")
      << centredSmall << small << 2 << CRect{530, 186, 1024, 642};
  QTest::newRow("1024: left has more room but would cover Help")
      << CRect{420, 134, 857, 633} << small << 0 << CRect{530, 134, 1024, 590};
  QTest::newRow("1024: both sides cover Help, above it")
      << CRect{450, 134, 887, 633} << small << 0 << CRect{0, 133, 494, 589};
  QTest::newRow("larger than the work area: its top-left corner")
      << CRect{10, 10, 447, 509} << CRect{0, 0, 400, 300} << 0 << CRect{0, 0, 494, 456};
}

void HelpAboutTest::HelpPlace_BesideTheMainWindowInsideTheWorkArea() {
  QFETCH(CRect, mainWindow);
  QFETCH(CRect, work);
  QFETCH(int, index);
  QFETCH(CRect, place);
  // The Help button at its template place in the main window (frame 3 px, title bar 23 px).
  const CRect help{mainWindow.left + 25, mainWindow.top + 455, mainWindow.left + 100,
                   mainWindow.top + 478};
  const CRect got = HelpWindowPlace(mainWindow, CSize{494, 456}, work, index, help, 26);
  QCOMPARE(got, place);
  if (work.Width() >= 494 && work.Height() >= 456) QVERIFY(work.Contains(got));
  QVERIFY(!got.Intersects(help));
}

// The backend hands the rule the owner's rectangles: three presses take the first three places
// of the cascade, and a window that went away frees its place for the next one.
void HelpAboutTest::HelpWindows_OpenAtTheFirstFreePlaceBesideTheOwner() {
  CDialog mainWindow(IDD_MAIN);
  QVERIFY(mainWindow.Create());
  mainWindow.SetWindowPos(100, 60);
  mainWindow.ShowWindow(true);
  QVERIFY(QTest::qWaitForWindowExposed(QtWindow(mainWindow)));
  CHelpDlg* first = PressHelp(&mainWindow);
  CHelpDlg* second = PressHelp(&mainWindow);
  CHelpDlg* third = PressHelp(&mainWindow);
  const CRect mine = first->GetWindowRect();
  auto place = [&](int index) {
    return HelpWindowPlace(mainWindow.GetWindowRect(), CSize{mine.Width(), mine.Height()},
                           mainWindow.GetWorkArea(), index,
                           mainWindow.GetDlgItemRect(IDC_HELP_BUTTON), SystemCascadeStep());
  };
  QCOMPARE(mine, place(0));
  QCOMPARE(second->GetWindowRect(), place(1));
  QCOMPARE(third->GetWindowRect(), place(2));
  QVERIFY(place(0) != place(1));
  first->EndDialog(IDOK);
  QCOMPARE(PressHelp(&mainWindow)->GetWindowRect(), place(0));
}

// Modal over the main window: centred over it, as the main window is on the screen.
void HelpAboutTest::About_OpensCentredOverTheMainWindow() {
  CDialog mainWindow(IDD_MAIN);
  QtWindow(mainWindow)->setGeometry(100, 120, 600, 500);
  QtWindow(mainWindow)->show();
  QVERIFY(QTest::qWaitForWindowExposed(QtWindow(mainWindow)));
  SetMainWindow(&mainWindow);
  CAboutDlg about;
  QPoint centre;
  RunAbout(about, [&](CAboutDlg& shown) {
    centre = QtWindow(shown)->frameGeometry().center();
    shown.EndDialog(IDOK);
  });
  SetMainWindow(nullptr);
  QVERIFY((centre - QtWindow(mainWindow)->frameGeometry().center()).manhattanLength() <= 3);
}

void HelpAboutTest::HelpText_ShownWithOneBreakPerLine() {
  CDialog mainWindow(IDD_MAIN);
  CHelpDlg* help = PressHelp(&mainWindow);
  auto* edit = qobject_cast<QPlainTextEdit*>(QtWidget(help->m_helpText));
  QVERIFY(edit != nullptr);
  QString expected = HelpTextString();
  expected.replace("\r\n", "\r");
  expected.remove(u'\n');
  expected.replace(u'\r', u'\n');
  QCOMPARE(edit->toPlainText(), expected);
  // Piece two's lone line feed breaks nothing, as in the window system's edit: the "\r\n\r\n"
  // after it make one empty line.
  QVERIFY(edit->toPlainText().contains("pressing \"Close\".\n\nSoftware upgrade"));
  QCOMPARE(edit->document()->blockCount(), expected.count(u'\n') + 1);
}

void HelpAboutTest::HelpWindow_IsReadOnlyButSelectableAndScrolls() {
  CDialog mainWindow(IDD_MAIN);
  CHelpDlg* help = PressHelp(&mainWindow);
  auto* edit = qobject_cast<QPlainTextEdit*>(QtWidget(help->m_helpText));
  QVERIFY(edit->isReadOnly());
  edit->setFocus();
  QTest::keyClicks(edit, "xyz");
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClick(edit, Qt::Key_Backspace);
  QCOMPARE(QString::fromStdString(help->GetDlgItemText(IDC_HELP_TEXT)), HelpTextString());
  QVERIFY(QtWindow(*help)->isVisible());
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);  // select all
  const QString selected = edit->textCursor().selectedText();
  // One character per "\r\n" break; the lone line feed shows nothing.
  QCOMPARE(selected.size(), 2807 - static_cast<qsizetype>(HelpTextString().count("\r\n")) - 1);
  QTRY_VERIFY(edit->verticalScrollBar()->maximum() > 0);  // longer than the window: it scrolls
}

void HelpAboutTest::HelpWindow_FocusStartsOnOK() {
  CDialog mainWindow(IDD_MAIN);
  CHelpDlg* help = PressHelp(&mainWindow);
  QCOMPARE(QtWindow(*help)->focusWidget(), QtDlgItem(*help, IDOK));
  auto* ok = qobject_cast<QPushButton*>(QtDlgItem(*help, IDOK));
  QVERIFY(ok->isDefault());
  QCOMPARE(ok->text(), QString("OK"));
}

void HelpAboutTest::HelpWindow_EndedBy_HidesAndFreesOnlyItself_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<int>("result");
  QTest::newRow("OK button") << "ok" << IDOK;
  QTest::newRow("Enter in text") << "enter" << IDOK;
  QTest::newRow("Escape") << "escape" << IDCANCEL;
  QTest::newRow("close box") << "close" << IDCANCEL;
}

void HelpAboutTest::HelpWindow_EndedBy_HidesAndFreesOnlyItself() {
  QFETCH(QString, how);
  QFETCH(int, result);
  CDialog mainWindow(IDD_MAIN);
  CHelpDlg* first = PressHelp(&mainWindow);
  CHelpDlg* second = PressHelp(&mainWindow);
  CHelpDlg* third = PressHelp(&mainWindow);
  // A help window's dialog goes with its window (and a leak would fail the sanitized run).
  QPointer<QDialog> secondWindow = QtWindow(*second);
  QWidget* text = QtDlgItem(*second, IDC_HELP_TEXT);
  QSignalSpy finished(secondWindow.data(), &QDialog::finished);
  if (how == "ok") QTest::mouseClick(QtDlgItem(*second, IDOK), Qt::LeftButton);
  if (how == "enter") {
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Return);
  }
  if (how == "escape") {
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Escape);
  }
  if (how == "close") QVERIFY(secondWindow->close());
  QCOMPARE(finished.size(), 1);
  QCOMPARE(finished.front().front().toInt(), result);
  QTRY_VERIFY(secondWindow.isNull());  // nothing refers to a closed help window: it frees itself
  QVERIFY(QtWindow(*first)->isVisible());
  QVERIFY(QtWindow(*third)->isVisible());
  QCOMPARE(QString::fromStdString(third->GetDlgItemText(IDC_HELP_TEXT)), HelpTextString());
  QCOMPARE(HelpWindows(mainWindow).size(), 2);
}

void HelpAboutTest::HelpWindows_DestroyedWithMainWindow() {
  auto* mainWindow = new CDialog(IDD_MAIN);
  QPointer<QDialog> first = QtWindow(*PressHelp(mainWindow));
  QPointer<QDialog> second = QtWindow(*PressHelp(mainWindow));
  delete mainWindow;
  QVERIFY(first.isNull());
  QVERIFY(second.isNull());
}

void HelpAboutTest::About_FirstLineKeepsTwoBlanksAndAmpersands() {
  CAboutDlg about;
  QVERIFY(about.Create());
  QLabel* first = AboutLine(about, 0);
  QLabel* second = AboutLine(about, 1);
  QVERIFY(first != nullptr && second != nullptr);
  QCOMPARE(first->text(), QString("Tarvenix ISDN Handset Software Upgrade via USB  Version 1.6.7"));
  QVERIFY(first->text().contains("USB  Version"));
  QCOMPARE(second->text(), QString("Copyright (C) 2026"));
  QCOMPARE(QtWindow(about)->windowTitle(), QString("About Corvanel"));
  // The first line shows an ampersand as itself; the second would take it as a mnemonic.
  SetWindowText(first, "Tools & Co &&");
  QCOMPARE(first->text(), QString("Tools & Co &&"));
  QCOMPARE(first->textFormat(), Qt::PlainText);
  SetWindowText(second, "Tools && Co");
  QCOMPARE(second->text(), QString("Tools & Co"));
  // The whole first line fits its rectangle on one line of the dialog font.
  QVERIFY(first->fontMetrics().horizontalAdvance(first->text()) <= first->width());
}

void HelpAboutTest::About_EndedBy_ReturnsCommand_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<int>("result");
  QTest::newRow("OK button") << "ok" << IDOK;
  QTest::newRow("Enter") << "enter" << IDOK;
  QTest::newRow("Escape") << "escape" << IDCANCEL;
  QTest::newRow("close box") << "close" << IDCANCEL;
}

void HelpAboutTest::About_EndedBy_ReturnsCommand() {
  QFETCH(QString, how);
  QFETCH(int, result);
  CAboutDlg about;
  bool focusedOnOk = false;
  const int ended = RunAbout(about, [&](CAboutDlg& dialog) {
    QWidget* ok = QtDlgItem(dialog, IDOK);
    focusedOnOk = QtWindow(dialog)->focusWidget() == ok;
    if (how == "ok") QTest::mouseClick(ok, Qt::LeftButton);
    if (how == "enter") QTest::keyClick(ok, Qt::Key_Return);
    if (how == "escape") QTest::keyClick(ok, Qt::Key_Escape);
    if (how == "close") QtWindow(dialog)->close();
  });
  QCOMPARE(ended, result);
  QVERIFY(focusedOnOk);
  QVERIFY(!QtWindow(about)->isVisible());
  QVERIFY(!about.IsRunningModal());
}

void HelpAboutTest::ModalOverTheMainWindow_BlocksOnlyIt_data() {
  QTest::addColumn<QString>("what");
  QTest::newRow("About box") << "about";
  QTest::newRow("the main window's own box") << "box";
  QTest::newRow("Browse's file dialog") << "file";
}

// Modal over the main window only, as the platform's dialogs and boxes are, tried with real
// input: the main window takes none, while an ownerless box (as the download worker shows)
// takes its Enter and a help window scrolls.
void HelpAboutTest::ModalOverTheMainWindow_BlocksOnlyIt() {
  QFETCH(QString, what);
  CDialog mainWindow(IDD_MAIN);
  SetMainWindow(&mainWindow);
  QVERIFY(mainWindow.Create());
  mainWindow.ShowWindow(true);
  CHelpDlg* help = PressHelp(&mainWindow);
  QPointer<QMessageBox> box =
      new QMessageBox(QMessageBox::NoIcon, "Error", "worker", QMessageBox::Ok, nullptr);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
  auto* path = qobject_cast<QLineEdit*>(QtDlgItem(mainWindow, IDC_PATH));
  auto* text = qobject_cast<QPlainTextEdit*>(QtWidget(help->m_helpText));
  // The modal window once it is shown: the About box, the main window's box or the file dialog.
  auto findModal = [&]() -> QDialog* {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(window);
      if (dialog == nullptr || !dialog->isVisible() || dialog == box) continue;
      if ((what == "about" && dynamic_cast<CAboutDlg*>(DialogOfWindow(dialog)) != nullptr) ||
          (what == "box" && qobject_cast<QMessageBox*>(dialog) != nullptr) ||
          (what == "file" && qobject_cast<QFileDialog*>(dialog) != nullptr)) {
        return dialog;
      }
    }
    return nullptr;
  };
  QWidget* owner = nullptr;
  bool boxTookEnter = false;
  int scrolled = 0;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QDialog* modal = findModal();
    if (modal == nullptr) return;
    poll.stop();
    owner = modal->parentWidget();
    QTest::keyClick(QtWindow(mainWindow)->windowHandle(), Qt::Key_X);  // path box has the focus
    text->setFocus();
    QTest::keyClick(text->window()->windowHandle(), Qt::Key_PageDown);
    scrolled = text->verticalScrollBar()->value();
    QTest::keyClick(box->windowHandle(), Qt::Key_Return);
    QTest::qWait(50);
    boxTookEnter = box.isNull() || !box->isVisible();
    modal->reject();
  });
  poll.start();
  QTimer::singleShot(10000, &poll, [&] {  // a fault fails the test instead of hanging it
    if (QDialog* modal = findModal()) modal->reject();
  });
  if (what == "about") {
    CAboutDlg about;
    about.DoModal();
  } else if (what == "box") {
    MakeWindowLink(mainWindow)->MessageBox(BoxOwner::MainWindow, "own", "Corvanel");
  } else {
    CFileDialog dialog(true, nullptr, nullptr, 0, "LDR files (*.ldr)|*.ldr||");
    QCOMPARE(dialog.DoModal(), IDCANCEL);
  }
  if (!box.isNull()) delete box;
  SetMainWindow(nullptr);
  QCOMPARE(owner, QtWindow(mainWindow));
  QCOMPARE(path->text(), QString());
  QVERIFY(scrolled > 0);
  QVERIFY(boxTookEnter);
  // The main window takes input again.
  QTest::keyClick(QtWindow(mainWindow)->windowHandle(), Qt::Key_Y);
  QCOMPARE(path->text(), QString("y"));
}

QTEST_MAIN(HelpAboutTest)
#include "help_about_test.moc"
