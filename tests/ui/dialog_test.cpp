// The template builder and CDialog: controls by ID at their rectangles, tab order, texts, and
// the dialog manager's commands from buttons, Enter, Escape and the close box.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QtTest>
#include <memory>

#include "download/window_link.h"
#include "res/templates.h"
#include "ui/qt/qt_window.h"

namespace {

// A dialog that records every command it is sent, then handles it as the base does.
class CRecordingDlg : public CDialog {
 public:
  using CDialog::CDialog;
  QList<int> m_commands;
  bool OnCommand(int id) override {
    m_commands << id;
    return CDialog::OnCommand(id);
  }
};

QList<int> TabStopOrder(const QWidget& dialog) {
  QList<int> ids;
  QWidget* widget = dialog.nextInFocusChain();
  while (widget != &dialog) {
    if (widget->parentWidget() == &dialog && widget->focusPolicy() == Qt::StrongFocus) {
      ids << GetDlgCtrlID(widget);
    }
    widget = widget->nextInFocusChain();
  }
  return ids;
}

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
  void DialogUnits_RoundLikeMulDiv_data();
  void DialogUnits_RoundLikeMulDiv();
  void Builder_PlacesEveryControlAtItsRectangle_data();
  void Builder_PlacesEveryControlAtItsRectangle();
  void Builder_SizesDialogFromDialogUnits_data();
  void Builder_SizesDialogFromDialogUnits();
  void Builder_TabOrderIsTemplateOrder_data();
  void Builder_TabOrderIsTemplateOrder();
  void Builder_StaticIdsAreNotAddressable();
  void Builder_WidgetsFollowStyles();
  void Builder_WindowFlagsFollowTemplate();
  void Texts_ReadBackAsSet_data();
  void Texts_ReadBackAsSet();
  void Static_ShowsMnemonicsOrAmpersands();
  void EditedMultiLine_ReadsBackWithCrLf();
  void InitDialog_FocusesFirstEnabledTabStop();
  void Keys_BecomeCommands_data();
  void Keys_BecomeCommands();
  void DisabledDefaultButton_EnterSendsNothing();
  void DisabledWithTheFocus_KeysDoNothingUntilAClick_data();
  void DisabledWithTheFocus_KeysDoNothingUntilAClick();
  void ButtonClick_SendsItsId();
  void CloseBox_SendsCancelAndHides();
  void DDX_Control_BindsAndActsOnControl();
  void Create_WithoutParent_OwnedByMainWindow();
  void Create_Twice_Fails();
};

void DialogTest::DialogUnits_RoundLikeMulDiv_data() {
  QTest::addColumn<int>("baseX");
  QTest::addColumn<int>("baseY");
  QTest::addColumn<int>("dlu");
  QTest::addColumn<int>("x");
  QTest::addColumn<int>("y");
  // The classic 6 x 13 dialog font: a 50 x 14 button is 75 x 23 pixels.
  QTest::newRow("6x13 50") << 6 << 13 << 50 << 75 << 81;
  QTest::newRow("6x13 14") << 6 << 13 << 14 << 21 << 23;
  QTest::newRow("5x13 3: 3.75 and 4.875") << 5 << 13 << 3 << 4 << 5;
  QTest::newRow("5x12 2: 2.5 and 3 round up") << 5 << 12 << 2 << 3 << 3;
  QTest::newRow("6x16 1: 1.5 and 2") << 6 << 16 << 1 << 2 << 2;
  QTest::newRow("7x15 0") << 7 << 15 << 0 << 0 << 0;
  QTest::newRow("7x15 -3: half away from zero") << 7 << 15 << -3 << -5 << -6;
}

void DialogTest::DialogUnits_RoundLikeMulDiv() {
  QFETCH(int, baseX);
  QFETCH(int, baseY);
  QFETCH(int, dlu);
  QFETCH(int, x);
  QFETCH(int, y);
  const CDialogUnits units(baseX, baseY);
  QCOMPARE(units.MapX(dlu), x);
  QCOMPARE(units.MapY(dlu), y);
}

void DialogTest::Builder_PlacesEveryControlAtItsRectangle_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<int>("index");
  for (int dialog : {IDD_MAIN, IDD_HELP, IDD_ABOUT}) {
    const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(dialog);
    for (std::size_t i = 0; i < dialogTemplate->controls.size(); ++i) {
      QTest::addRow("%d control %zu", dialog, i + 1) << dialog << static_cast<int>(i);
    }
  }
}

void DialogTest::Builder_PlacesEveryControlAtItsRectangle() {
  QFETCH(int, dialog);
  QFETCH(int, index);
  const res::DialogTemplate& dialogTemplate = *res::FindDialogTemplate(dialog);
  const res::ControlTemplate& control = dialogTemplate.controls[static_cast<std::size_t>(index)];
  QDialog built;
  BuildDialogFromTemplate(built, dialogTemplate);
  const QList<QWidget*> children = built.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  QCOMPARE(children.size(), static_cast<qsizetype>(dialogTemplate.controls.size()));
  QWidget* widget = children[index];
  QCOMPARE(GetDlgCtrlID(widget), control.id);
  if (control.id != IDC_STATIC) QCOMPARE(GetDlgItem(&built, control.id), widget);

  // Pixels from the dialog font's base units (pinned to the window system's figures by
  // Builder_SizesDialogFromDialogUnits): x = dlu * width / 4, y = dlu * height / 8.
  const CDialogUnits units(built.font());
  auto px = [](int dlu, int base, int divisor) { return (dlu * base + divisor / 2) / divisor; };
  const QRect expected(px(control.rect.x, units.BaseX(), 4), px(control.rect.y, units.BaseY(), 8),
                       px(control.rect.cx, units.BaseX(), 4),
                       px(control.rect.cy, units.BaseY(), 8));
  QCOMPARE(widget->geometry(), expected);
  QVERIFY(!widget->isHidden());

  const char* expectedClass = "";
  switch (control.kind) {
    case res::ControlKind::Static:
      expectedClass = "QLabel";
      break;
    case res::ControlKind::Edit:
      expectedClass = (control.style & res::ctl::kMultiLine) ? "QPlainTextEdit" : "QLineEdit";
      break;
    case res::ControlKind::PushButton:
      expectedClass = "QPushButton";
      break;
    case res::ControlKind::ProgressBar:
      expectedClass = "QProgressBar";
      break;
    case res::ControlKind::StaticIcon:
      expectedClass = "QLabel";
      break;
  }
  QCOMPARE(widget->metaObject()->className(), expectedClass);
}

void DialogTest::Builder_SizesDialogFromDialogUnits_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<QSize>("dlu");
  QTest::addColumn<QSize>("windows");  // the client size Windows gives at 96 dpi (6 x 13 units)
  QTest::newRow("main") << IDD_MAIN << QSize(287, 289) << QSize(431, 470);
  QTest::newRow("help") << IDD_HELP << QSize(325, 263) << QSize(488, 427);
  QTest::newRow("about") << IDD_ABOUT << QSize(235, 55) << QSize(353, 89);
}

void DialogTest::Builder_SizesDialogFromDialogUnits() {
  QFETCH(int, dialog);
  QFETCH(QSize, dlu);
  QFETCH(QSize, windows);
  QDialog built;
  BuildDialogFromTemplate(built, *res::FindDialogTemplate(dialog));
  const CDialogUnits units(built.font());
  QCOMPARE(built.size(), QSize(units.MapX(dlu.width()), units.MapY(dlu.height())));
  if (QGuiApplication::primaryScreen()->logicalDotsPerInchY() == 96) {
    QCOMPARE(built.size(), windows);
  }
  QCOMPARE(built.minimumSize(), built.maximumSize());  // cannot be resized
  QCOMPARE(built.font().pointSize(), 8);
  QCOMPARE(QFontInfo(built.font()).italic(), false);
  QCOMPARE(QFontInfo(built.font()).weight(), int{QFont::Normal});
}

void DialogTest::Builder_TabOrderIsTemplateOrder_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<QList<int>>("order");
  QTest::newRow("main") << IDD_MAIN
                        << QList<int>{IDC_PATH, IDC_BROWSE, IDC_DOWNLOAD, IDC_HELP_BUTTON, IDOK};
  QTest::newRow("help") << IDD_HELP << QList<int>{IDOK, IDC_HELP_TEXT};
  QTest::newRow("about") << IDD_ABOUT << QList<int>{IDOK};
}

void DialogTest::Builder_TabOrderIsTemplateOrder() {
  QFETCH(int, dialog);
  QFETCH(QList<int>, order);
  QDialog built;
  BuildDialogFromTemplate(built, *res::FindDialogTemplate(dialog));
  QCOMPARE(TabStopOrder(built), order);
}

void DialogTest::Builder_StaticIdsAreNotAddressable() {
  CDialog dialog(IDD_MAIN);
  QVERIFY(dialog.Create());
  QVERIFY(QtDlgItem(dialog, IDC_STATIC) == nullptr);
  QVERIFY(QtDlgItem(dialog, 1003) == nullptr);
  QVERIFY(QtDlgItem(dialog, IDCANCEL) == nullptr);
  QCOMPARE(QString::fromStdString(dialog.GetDlgItemText(1003)), QString());
  dialog.SetDlgItemText(1003, "ignored");  // no control, no effect, no crash
  // The unaddressed controls exist all the same: prompt, heading and the two marks.
  int statics = 0;
  for (QWidget* child : QtWindow(dialog)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (GetDlgCtrlID(child) == IDC_STATIC) ++statics;
  }
  QCOMPARE(statics, 4);
}

void DialogTest::Builder_WidgetsFollowStyles() {
  CDialog mainDlg(IDD_MAIN);
  QVERIFY(mainDlg.Create());
  auto* path = qobject_cast<QLineEdit*>(QtDlgItem(mainDlg, IDC_PATH));
  QVERIFY(path != nullptr);
  QVERIFY(path->hasFrame());
  QVERIFY(!path->isReadOnly());
  auto* close = qobject_cast<QPushButton*>(QtDlgItem(mainDlg, IDOK));
  QVERIFY(!close->isDefault());
  QVERIFY(!close->autoDefault());
  auto* progress = qobject_cast<QProgressBar*>(QtDlgItem(mainDlg, IDC_PROGRESS));
  QCOMPARE(progress->minimum(), 0);
  QCOMPARE(progress->maximum(), 100);
  QCOMPARE(progress->value(), 0);
  QVERIFY(!progress->isTextVisible());
  auto* warning = qobject_cast<QLabel*>(QtDlgItem(mainDlg, IDC_WARNING));
  QVERIFY(warning->wordWrap());
  QCOMPARE(warning->textFormat(), Qt::PlainText);
  QCOMPARE(warning->alignment(), Qt::AlignLeft | Qt::AlignTop);
  QCOMPARE(warning->focusPolicy(), Qt::NoFocus);
  int marks = 0;
  for (QLabel* label : QtWindow(mainDlg)->findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) {
      QCOMPARE(label->pixmap().size(), QSize(22, 22));
      ++marks;
    }
  }
  QCOMPARE(marks, 2);

  CDialog helpDlg(IDD_HELP);
  QVERIFY(helpDlg.Create());
  auto* text = qobject_cast<QPlainTextEdit*>(QtDlgItem(helpDlg, IDC_HELP_TEXT));
  QVERIFY(text->isReadOnly());
  QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByMouse);
  QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByKeyboard);
  QCOMPARE(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  QCOMPARE(text->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  QVERIFY(text->tabChangesFocus());
  QVERIFY(text->frameShape() != QFrame::NoFrame);
  QVERIFY(qobject_cast<QPushButton*>(QtDlgItem(helpDlg, IDOK))->isDefault());
}

void DialogTest::Builder_WindowFlagsFollowTemplate() {
  CDialog mainDlg(IDD_MAIN);
  QVERIFY(mainDlg.Create());
  QCOMPARE(QtWindow(mainDlg)->windowTitle(), QString("Tarvenix ISDN Software Upgrade via USB"));
  QCOMPARE(QtWindow(mainDlg)->windowType(), Qt::Window);  // an application window of its own
  QVERIFY(!(QtWindow(mainDlg)->windowFlags() & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(QtWindow(mainDlg)->windowFlags() & Qt::WindowMaximizeButtonHint));
  QVERIFY(!(QtWindow(mainDlg)->windowFlags() & Qt::WindowContextHelpButtonHint));
  QVERIFY(QtWindow(mainDlg)->windowFlags() & Qt::WindowCloseButtonHint);
  QVERIFY(QtWindow(mainDlg)->isVisible());  // its template is visible

  CDialog helpDlg(IDD_HELP);
  QVERIFY(helpDlg.Create());
  QCOMPARE(QtWindow(helpDlg)->windowType(), Qt::Dialog);
  QCOMPARE(QtWindow(helpDlg)->windowTitle(), QString("Help"));
  QVERIFY(!QtWindow(helpDlg)->isVisible());  // hidden until shown
  helpDlg.ShowWindow(true);
  QVERIFY(QtWindow(helpDlg)->isVisible());
}

void DialogTest::Texts_ReadBackAsSet_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("text");
  QTest::newRow("status plain") << IDC_STATUS << "File transfer progress indicator.";
  QTest::newRow("message with LF") << IDC_MESSAGE << "No terminal connected.\n\nMake sure";
  QTest::newRow("message markup stays text") << IDC_MESSAGE << "<b>not bold</b>";
  QTest::newRow("path") << IDC_PATH << "/tmp/a b/handset.ldr";
  QTest::newRow("button caption") << IDC_DOWNLOAD << "Transfering software to handset";
  QTest::newRow("empty") << IDC_WARNING << "";
}

void DialogTest::Texts_ReadBackAsSet() {
  QFETCH(int, id);
  QFETCH(QString, text);
  CDialog dialog(IDD_MAIN);
  QVERIFY(dialog.Create());
  dialog.SetDlgItemText(id, text.toStdString());
  QCOMPARE(QString::fromStdString(dialog.GetDlgItemText(id)), text);
  if (auto* label = qobject_cast<QLabel*>(QtDlgItem(dialog, id))) QCOMPARE(label->text(), text);
}

void DialogTest::Static_ShowsMnemonicsOrAmpersands() {
  CDialog dialog(IDD_MAIN);
  QVERIFY(dialog.Create());
  dialog.SetDlgItemText(IDC_STATUS, "Save && &Quit");
  auto* status = qobject_cast<QLabel*>(QtDlgItem(dialog, IDC_STATUS));
  QCOMPARE(status->text(), QString("Save & Quit"));  // a static with prefix processing
  QCOMPARE(QString::fromStdString(dialog.GetDlgItemText(IDC_STATUS)), QString("Save && &Quit"));
  QCOMPARE(QString::fromStdString(dialog.GetDlgItemText(IDC_WARNING)), QString("Static"));
}

void DialogTest::EditedMultiLine_ReadsBackWithCrLf() {
  CDialog dialog(IDD_HELP);
  QVERIFY(dialog.Create());
  auto* edit = qobject_cast<QPlainTextEdit*>(QtDlgItem(dialog, IDC_HELP_TEXT));
  dialog.SetDlgItemText(IDC_HELP_TEXT, "one\r\ntwo\nthree");
  QCOMPARE(edit->toPlainText(), QString("one\ntwothree"));  // a break per "\r\n" only
  QCOMPARE(QString::fromStdString(dialog.GetDlgItemText(IDC_HELP_TEXT)),
           QString("one\r\ntwo\nthree"));
  edit->setPlainText("typed\nlines");  // as if changed in the control itself
  QCOMPARE(QString::fromStdString(dialog.GetDlgItemText(IDC_HELP_TEXT)), QString("typed\r\nlines"));
}

void DialogTest::InitDialog_FocusesFirstEnabledTabStop() {
  CDialog mainDlg(IDD_MAIN);
  QVERIFY(mainDlg.Create());
  QCOMPARE(QtWindow(mainDlg)->focusWidget(), QtDlgItem(mainDlg, IDC_PATH));
  CDialog helpDlg(IDD_HELP);
  QVERIFY(helpDlg.Create());
  QCOMPARE(QtWindow(helpDlg)->focusWidget(), QtDlgItem(helpDlg, IDOK));
}

void DialogTest::Keys_BecomeCommands_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<int>("focus");  // control with the focus
  QTest::addColumn<int>("key");
  QTest::addColumn<QList<int>>("commands");
  QTest::addColumn<bool>("ended");
  // No default button in the main window: Enter is IDOK unless a push button has the focus.
  QTest::newRow("main Enter in path")
      << IDD_MAIN << IDC_PATH << int{Qt::Key_Return} << QList<int>{IDOK} << true;
  QTest::newRow("main keypad Enter in path")
      << IDD_MAIN << IDC_PATH << int{Qt::Key_Enter} << QList<int>{IDOK} << true;
  QTest::newRow("main Enter on Browse")
      << IDD_MAIN << IDC_BROWSE << int{Qt::Key_Return} << QList<int>{IDC_BROWSE} << false;
  QTest::newRow("main Enter on Help")
      << IDD_MAIN << IDC_HELP_BUTTON << int{Qt::Key_Return} << QList<int>{IDC_HELP_BUTTON} << false;
  QTest::newRow("main Enter on Close")
      << IDD_MAIN << IDOK << int{Qt::Key_Return} << QList<int>{IDOK} << true;
  QTest::newRow("main Escape in path")
      << IDD_MAIN << IDC_PATH << int{Qt::Key_Escape} << QList<int>{IDCANCEL} << true;
  QTest::newRow("main Escape on Browse")
      << IDD_MAIN << IDC_BROWSE << int{Qt::Key_Escape} << QList<int>{IDCANCEL} << true;
  QTest::newRow("help Enter in text")
      << IDD_HELP << IDC_HELP_TEXT << int{Qt::Key_Return} << QList<int>{IDOK} << true;
  QTest::newRow("help Escape in text")
      << IDD_HELP << IDC_HELP_TEXT << int{Qt::Key_Escape} << QList<int>{IDCANCEL} << true;
  QTest::newRow("help Enter on OK")
      << IDD_HELP << IDOK << int{Qt::Key_Return} << QList<int>{IDOK} << true;
  QTest::newRow("help letter in text")
      << IDD_HELP << IDC_HELP_TEXT << int{Qt::Key_A} << QList<int>{} << false;
}

void DialogTest::Keys_BecomeCommands() {
  QFETCH(int, dialog);
  QFETCH(int, focus);
  QFETCH(int, key);
  QFETCH(QList<int>, commands);
  QFETCH(bool, ended);
  CRecordingDlg recorder(dialog);
  QVERIFY(recorder.Create());
  recorder.ShowWindow(true);
  QWidget* target = QtDlgItem(recorder, focus);
  target->setFocus();
  QCOMPARE(QtWindow(recorder)->focusWidget(), target);
  const Qt::KeyboardModifiers modifiers =
      key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
  QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
  QCOMPARE(recorder.m_commands, commands);
  QCOMPARE(!QtWindow(recorder)->isVisible(), ended);
  if (ended) QCOMPARE(QtWindow(recorder)->result(), commands.front());
}

void DialogTest::DisabledDefaultButton_EnterSendsNothing() {
  CRecordingDlg recorder(IDD_HELP);
  QVERIFY(recorder.Create());
  recorder.ShowWindow(true);
  recorder.EnableDlgItem(IDOK, false);
  QVERIFY(!recorder.IsDlgItemEnabled(IDOK));
  QWidget* text = QtDlgItem(recorder, IDC_HELP_TEXT);
  text->setFocus();
  QTest::keyClick(text, Qt::Key_Return);
  QCOMPARE(recorder.m_commands, QList<int>{});
  QVERIFY(QtWindow(recorder)->isVisible());
}

void DialogTest::DisabledWithTheFocus_KeysDoNothingUntilAClick_data() {
  QTest::addColumn<bool>("throughLink");
  QTest::newRow("by the dialog") << false;
  QTest::newRow("by the window link (StartDownload)") << true;
}

// As the window system does: a control disabled while it has the focus keeps it, and the keys
// reach nothing (Qt would hand the focus to Help: Enter would open a help window, Escape end
// the window) until the control is enabled again or the operator clicks another.
void DialogTest::DisabledWithTheFocus_KeysDoNothingUntilAClick() {
  QFETCH(bool, throughLink);
  CRecordingDlg recorder(IDD_MAIN);
  QVERIFY(recorder.Create());
  recorder.ShowWindow(true);
  const std::unique_ptr<CWindowLink> link = MakeWindowLink(recorder);
  auto enable = [&](bool on) {
    if (throughLink)
      link->EnableItem(IDC_DOWNLOAD, on);
    else
      recorder.EnableDlgItem(IDC_DOWNLOAD, on);
  };
  QWindow* window = QtWindow(recorder)->windowHandle();
  QtDlgItem(recorder, IDC_DOWNLOAD)->setFocus();
  enable(false);
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Space}) {
    QTest::keyClick(window, key);
  }
  QCOMPARE(recorder.m_commands, QList<int>{});
  QVERIFY(QtWindow(recorder)->isVisible());
  // Enabled again, the button has the keys back.
  enable(true);
  QTest::keyClick(window, Qt::Key_Return);
  QCOMPARE(recorder.m_commands, QList<int>{IDC_DOWNLOAD});
  // A click on the path box gives the keys to it.
  enable(false);
  QTest::mouseClick(QtDlgItem(recorder, IDC_PATH), Qt::LeftButton);
  QTest::keyClick(window, Qt::Key_Escape);
  QCOMPARE(recorder.m_commands, (QList<int>{IDC_DOWNLOAD, IDCANCEL}));
}

void DialogTest::ButtonClick_SendsItsId() {
  CRecordingDlg recorder(IDD_MAIN);
  QVERIFY(recorder.Create());
  for (int id : {IDC_BROWSE, IDC_DOWNLOAD, IDC_HELP_BUTTON}) {
    QTest::mouseClick(QtDlgItem(recorder, id), Qt::LeftButton);
  }
  recorder.EnableDlgItem(IDC_DOWNLOAD, false);
  QTest::mouseClick(QtDlgItem(recorder, IDC_DOWNLOAD), Qt::LeftButton);  // disabled: nothing
  QCOMPARE(recorder.m_commands, (QList<int>{IDC_BROWSE, IDC_DOWNLOAD, IDC_HELP_BUTTON}));
  QVERIFY(QtWindow(recorder)->isVisible());  // unknown commands end nothing
  QTest::mouseClick(QtDlgItem(recorder, IDOK), Qt::LeftButton);
  QCOMPARE(recorder.m_commands.back(), IDOK);
  QVERIFY(!QtWindow(recorder)->isVisible());
  QCOMPARE(QtWindow(recorder)->result(), IDOK);
}

void DialogTest::CloseBox_SendsCancelAndHides() {
  CRecordingDlg recorder(IDD_HELP);
  QVERIFY(recorder.Create());
  recorder.ShowWindow(true);
  QVERIFY(QtWindow(recorder)->close());
  QCOMPARE(recorder.m_commands, QList<int>{IDCANCEL});
  QVERIFY(!QtWindow(recorder)->isVisible());
  QCOMPARE(QtWindow(recorder)->result(), IDCANCEL);
  recorder.ShowWindow(true);
  QtWindow(recorder)->reject();  // Qt's own rejection is the cancel command too
  recorder.ShowWindow(true);
  QtWindow(recorder)->accept();
  QCOMPARE(recorder.m_commands, (QList<int>{IDCANCEL, IDCANCEL, IDOK}));
}

void DialogTest::DDX_Control_BindsAndActsOnControl() {
  class CBoundDlg : public CDialog {
   public:
    CBoundDlg() : CDialog(IDD_MAIN) {}
    CControl m_statusText;
    CControl m_browseButton;
    int m_exchanges = 0;

   protected:
    void DoDataExchange() override {
      CDialog::DoDataExchange();
      DDX_Control(m_statusText, IDC_STATUS);
      DDX_Control(m_browseButton, IDC_BROWSE);
      ++m_exchanges;
    }
  };
  CBoundDlg dialog;
  QVERIFY(!dialog.m_statusText);
  QVERIFY(dialog.Create());
  QCOMPARE(dialog.m_exchanges, 1);
  QCOMPARE(QtWidget(dialog.m_statusText), QtDlgItem(dialog, IDC_STATUS));
  QCOMPARE(dialog.m_statusText.ID(), IDC_STATUS);
  dialog.m_statusText.SetWindowText("File transfer progress indicator.");
  QCOMPARE(QString::fromStdString(dialog.GetDlgItemText(IDC_STATUS)),
           QString("File transfer progress indicator."));
  dialog.m_browseButton.EnableWindow(false);
  QVERIFY(!dialog.IsDlgItemEnabled(IDC_BROWSE));
  QVERIFY(!dialog.m_browseButton.IsWindowEnabled());
  QCOMPARE(QString::fromStdString(dialog.m_browseButton.GetWindowText()), QString("Browse"));
  QVERIFY(qobject_cast<QPushButton*>(QtWidget(dialog.m_browseButton)) != nullptr);
}

void DialogTest::Create_WithoutParent_OwnedByMainWindow() {
  CDialog mainWindow(IDD_MAIN);
  SetMainWindow(&mainWindow);
  auto* dialog = new CDialog(IDD_HELP);
  QVERIFY(dialog->Create());
  QCOMPARE(QtWindow(*dialog)->parentWidget(), QtWindow(mainWindow));
  QVERIFY(QtWindow(*dialog)->isWindow());
  SetMainWindow(nullptr);
  // An explicit owner wins over the main window.
  CDialog owner(IDD_MAIN);
  CDialog owned(IDD_HELP);
  QVERIFY(owned.Create(IDD_HELP, &owner));
  QCOMPARE(QtWindow(owned)->parentWidget(), QtWindow(owner));
  QVERIFY(QtWindow(owned)->isWindow());
  delete dialog;
}

void DialogTest::Create_Twice_Fails() {
  CDialog dialog(IDD_ABOUT);
  QVERIFY(dialog.Create());
  QVERIFY(!dialog.Create());
  CDialog unknown(999);
  QVERIFY(!unknown.Create());
  QCOMPARE(unknown.DoModal(), -1);
}

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
