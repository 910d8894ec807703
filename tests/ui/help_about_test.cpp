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
#include "ui/qt/qt_window.h"

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

// Modeless: not centred; the client area at the template's 0, 0 of the owner's client area; a
// second and a third window step down and right so that none hides another exactly.
void HelpAboutTest::HelpWindows_OpenAtTheOwnersOriginEachStepAside() {
  CDialog mainWindow(IDD_MAIN);
  QtWindow(mainWindow)->setGeometry(200, 150, 500, 400);
  QtWindow(mainWindow)->show();
  QVERIFY(QTest::qWaitForWindowExposed(QtWindow(mainWindow)));
  const QPoint origin = QtWindow(mainWindow)->mapToGlobal(QPoint(0, 0));
  CHelpDlg* first = PressHelp(&mainWindow);
  CHelpDlg* second = PressHelp(&mainWindow);
  CHelpDlg* third = PressHelp(&mainWindow);
  QCOMPARE(QtWindow(*first)->geometry().topLeft(), origin);
  const QPoint step =
      QtWindow(*second)->geometry().topLeft() - QtWindow(*first)->geometry().topLeft();
  QVERIFY(step.x() > 0 && step.x() == step.y());
  QCOMPARE(QtWindow(*third)->geometry().topLeft(), QtWindow(*second)->geometry().topLeft() + step);
  // A window that went away frees its place for the next one.
  first->EndDialog(IDOK);
  QCOMPARE(QtWindow(*PressHelp(&mainWindow))->geometry().topLeft(), origin);
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

// Modal over the main window only, tried with real input: the main window takes none, while an
// ownerless box (as the download worker shows) takes its Enter and a help window scrolls.
void HelpAboutTest::About_BlocksOnlyTheMainWindow() {
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
  CAboutDlg about;
  QWidget* owner = nullptr;
  bool boxTookEnter = false;
  int scrolled = 0;
  const int ended = RunAbout(about, [&](CAboutDlg& dialog) {
    owner = QtWindow(dialog)->parentWidget();
    QTest::keyClick(QtWindow(mainWindow)->windowHandle(), Qt::Key_X);  // path box has the focus
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
  QCOMPARE(owner, QtWindow(mainWindow));
  QCOMPARE(path->text(), QString());
  QVERIFY(scrolled > 0);
  QVERIFY(boxTookEnter);
}

QTEST_MAIN(HelpAboutTest)
#include "help_about_test.moc"
