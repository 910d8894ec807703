// The help window (modeless, one per press, same text, hides and frees itself) and the modal
// About box.
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "res/help_text.h"
#include "tests/ui/help_windows.h"
#include "ui/about_dlg.h"
#include "ui/help_dlg.h"

namespace {

QString HelpTextString() {
  const std::string_view text = res::HelpText();
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Opens a help window as the Help button does: new, created without naming a parent, shown.
CHelpDlg* PressHelp(QWidget* mainWindow) {
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
    if (about.isVisible() && about.IsRunningModal()) {
      poll.stop();
      act(about);
    }
  });
  poll.start();
  QTimer::singleShot(10000, &about, [&] { about.EndDialog(-99); });
  return about.DoModal();
}

QLabel* AboutLine(CAboutDlg& about, int index) {
  QList<QLabel*> labels = about.findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  return index < labels.size() ? labels[index] : nullptr;
}

}  // namespace

class HelpAboutTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
  void ThreePresses_GiveThreeWindowsWithTheSameText();
  void HelpText_ShownWithOneBreakPerLine();
  void HelpWindows_OpenAtTheOwnersOriginEachStepAside();
  void About_OpensCentredOverTheMainWindow();
  void HelpWindow_IsReadOnlyButSelectableAndScrolls();
  void HelpWindow_FocusStartsOnOK();
  void HelpWindow_EndedBy_HidesAndFreesOnlyItself_data();
  void HelpWindow_EndedBy_HidesAndFreesOnlyItself();
  void HelpWindows_DestroyedWithMainWindow();
  void About_FirstLineKeepsTwoBlanksAndAmpersands();
  void About_EndedBy_ReturnsCommand_data();
  void About_EndedBy_ReturnsCommand();
  void About_BlocksOnlyTheMainWindow();
};

void HelpAboutTest::ThreePresses_GiveThreeWindowsWithTheSameText() {
  QWidget mainWindow;
  mainWindow.show();
  QList<CHelpDlg*> windows;
  for (int press = 0; press < 3; ++press) windows << PressHelp(&mainWindow);
  QCOMPARE(HelpWindows(mainWindow).size(), 3);
  for (CHelpDlg* help : windows) {
    QVERIFY(help != nullptr);
    QVERIFY(help->isVisible());
    QVERIFY(help->isWindow());
    QCOMPARE(help->parentWidget(), &mainWindow);
    QCOMPARE(help->windowTitle(), QString("Help"));
    QCOMPARE(help->GetDlgItemText(IDC_HELP_TEXT), HelpTextString());
    QCOMPARE(help->GetDlgItemText(IDC_HELP_TEXT).size(), 2807);
    QCOMPARE(help->m_helpText.Widget(), help->GetDlgItem(IDC_HELP_TEXT));
  }
  QVERIFY(!mainWindow.isHidden());  // the main window stays usable: no modality
  for (CHelpDlg* help : windows) QCOMPARE(help->windowModality(), Qt::NonModal);
}

// Modeless: not centred; the client area at the template's 0, 0 of the owner's client area; a
// second and a third window step down and right so that none hides another exactly.
void HelpAboutTest::HelpWindows_OpenAtTheOwnersOriginEachStepAside() {
  QWidget mainWindow;
  mainWindow.setGeometry(200, 150, 500, 400);
  mainWindow.show();
  QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
  const QPoint origin = mainWindow.mapToGlobal(QPoint(0, 0));
  CHelpDlg* first = PressHelp(&mainWindow);
  CHelpDlg* second = PressHelp(&mainWindow);
  CHelpDlg* third = PressHelp(&mainWindow);
  QCOMPARE(first->geometry().topLeft(), origin);
  const QPoint step = second->geometry().topLeft() - first->geometry().topLeft();
  QVERIFY(step.x() > 0 && step.x() == step.y());
  QCOMPARE(third->geometry().topLeft(), second->geometry().topLeft() + step);
  // A window that went away frees its place for the next one.
  first->EndDialog(IDOK);
  QCOMPARE(PressHelp(&mainWindow)->geometry().topLeft(), origin);
}

// Modal over the main window: centred over it, as the main window is on the screen.
void HelpAboutTest::About_OpensCentredOverTheMainWindow() {
  QWidget mainWindow;
  mainWindow.setGeometry(100, 120, 600, 500);
  mainWindow.show();
  QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
  SetMainWindow(&mainWindow);
  CAboutDlg about;
  QPoint centre;
  RunAbout(about, [&](CAboutDlg& shown) {
    centre = shown.frameGeometry().center();
    shown.EndDialog(IDOK);
  });
  SetMainWindow(nullptr);
  QVERIFY((centre - mainWindow.frameGeometry().center()).manhattanLength() <= 3);
}

void HelpAboutTest::HelpText_ShownWithOneBreakPerLine() {
  QWidget mainWindow;
  CHelpDlg* help = PressHelp(&mainWindow);
  auto* edit = help->m_helpText.As<QPlainTextEdit>();
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
  QWidget mainWindow;
  CHelpDlg* help = PressHelp(&mainWindow);
  auto* edit = help->m_helpText.As<QPlainTextEdit>();
  QVERIFY(edit->isReadOnly());
  edit->setFocus();
  QTest::keyClicks(edit, "xyz");
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClick(edit, Qt::Key_Backspace);
  QCOMPARE(help->GetDlgItemText(IDC_HELP_TEXT), HelpTextString());
  QVERIFY(help->isVisible());
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);  // select all
  const QString selected = edit->textCursor().selectedText();
  // One character per "\r\n" break; the lone line feed shows nothing.
  QCOMPARE(selected.size(), 2807 - static_cast<qsizetype>(HelpTextString().count("\r\n")) - 1);
  QTRY_VERIFY(edit->verticalScrollBar()->maximum() > 0);  // longer than the window: it scrolls
}

void HelpAboutTest::HelpWindow_FocusStartsOnOK() {
  QWidget mainWindow;
  CHelpDlg* help = PressHelp(&mainWindow);
  QCOMPARE(help->focusWidget(), help->GetDlgItem(IDOK));
  auto* ok = qobject_cast<QPushButton*>(help->GetDlgItem(IDOK));
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
  QWidget mainWindow;
  QPointer<CHelpDlg> first = PressHelp(&mainWindow);
  QPointer<CHelpDlg> second = PressHelp(&mainWindow);
  QPointer<CHelpDlg> third = PressHelp(&mainWindow);
  QWidget* text = second->GetDlgItem(IDC_HELP_TEXT);
  QSignalSpy finished(second.data(), &QDialog::finished);
  if (how == "ok") QTest::mouseClick(second->GetDlgItem(IDOK), Qt::LeftButton);
  if (how == "enter") {
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Return);
  }
  if (how == "escape") {
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Escape);
  }
  if (how == "close") QVERIFY(second->close());
  QCOMPARE(finished.size(), 1);
  QCOMPARE(finished.front().front().toInt(), result);
  QTRY_VERIFY(second.isNull());  // nothing refers to a closed help window: it frees itself
  QVERIFY(first && first->isVisible());
  QVERIFY(third && third->isVisible());
  QCOMPARE(third->GetDlgItemText(IDC_HELP_TEXT), HelpTextString());
  QCOMPARE(HelpWindows(mainWindow).size(), 2);
}

void HelpAboutTest::HelpWindows_DestroyedWithMainWindow() {
  auto* mainWindow = new QWidget;
  QPointer<CHelpDlg> first = PressHelp(mainWindow);
  QPointer<CHelpDlg> second = PressHelp(mainWindow);
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
  QCOMPARE(about.windowTitle(), QString("About Corvanel"));
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
    QWidget* ok = dialog.GetDlgItem(IDOK);
    focusedOnOk = dialog.focusWidget() == ok;
    if (how == "ok") QTest::mouseClick(ok, Qt::LeftButton);
    if (how == "enter") QTest::keyClick(ok, Qt::Key_Return);
    if (how == "escape") QTest::keyClick(ok, Qt::Key_Escape);
    if (how == "close") dialog.close();
  });
  QCOMPARE(ended, result);
  QVERIFY(focusedOnOk);
  QVERIFY(!about.isVisible());
  QVERIFY(!about.IsRunningModal());
}

// Modal over the main window only, tried with real input: the main window takes none, while an
// ownerless box (as the download worker shows) takes its Enter and a help window scrolls.
void HelpAboutTest::About_BlocksOnlyTheMainWindow() {
  CDialog mainWindow(IDD_MAIN);
  SetMainWindow(&mainWindow);
  QVERIFY(mainWindow.Create());
  mainWindow.ShowWindow(true);
  QPointer<CHelpDlg> help = PressHelp(&mainWindow);
  QPointer<QMessageBox> box =
      new QMessageBox(QMessageBox::NoIcon, "Error", "worker", QMessageBox::Ok, nullptr);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
  auto* path = qobject_cast<QLineEdit*>(mainWindow.GetDlgItem(IDC_PATH));
  auto* text = help->m_helpText.As<QPlainTextEdit>();
  CAboutDlg about;
  QWidget* owner = nullptr;
  bool boxTookEnter = false;
  int scrolled = 0;
  const int ended = RunAbout(about, [&](CAboutDlg& dialog) {
    owner = dialog.parentWidget();
    QTest::keyClick(mainWindow.windowHandle(), Qt::Key_X);  // path box has the focus
    text->setFocus();
    QTest::keyClick(text->window()->windowHandle(), Qt::Key_PageDown);
    scrolled = text->verticalScrollBar()->value();
    QTest::keyClick(box->windowHandle(), Qt::Key_Return);
    QTest::qWait(50);
    boxTookEnter = box.isNull() || !box->isVisible();
    dialog.EndDialog(IDOK);
  });
  if (!box.isNull()) delete box;
  SetMainWindow(nullptr);
  QCOMPARE(ended, IDOK);
  QCOMPARE(owner, &mainWindow);
  QCOMPARE(path->text(), QString());
  QVERIFY(scrolled > 0);
  QVERIFY(boxTookEnter);
}

QTEST_MAIN(HelpAboutTest)
#include "help_about_test.moc"
