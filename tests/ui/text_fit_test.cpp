// Every fixed text fits the control that shows it, laid out with the control's own font and
// width (word wrap where the control wraps), in the windows as the template builder makes them.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QtTest>

#include "download/messages.h"
#include "res/resource.h"
#include "res/templates.h"
#include "ui/dialog.h"

class TextFitTest : public QObject {
  Q_OBJECT

 private slots:
  void FixedText_FitsItsControl_data();
  void FixedText_FitsItsControl();
};

void TextFitTest::FixedText_FitsItsControl_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<int>("index");  // the control's place in its template
  QTest::addColumn<QString>("text");
  auto add = [](const char* name, int dialog, int index, const char* text) {
    QTest::newRow(name) << dialog << index << QString::fromUtf8(text);
  };
  // The main window's template order: 0 label, 2 Browse, 3 Download, 5 message pane, 6 status
  // line, 7 Help, 8 Close, 11 heading, 12 warning.
  add("label", IDD_MAIN, 0, "Enter the location of the Volk handcell software file (*.LDR)");
  add("Browse", IDD_MAIN, 2, "Browse");
  add("Download", IDD_MAIN, 3, kCaptionAfterDial);
  add("Download, busy", IDD_MAIN, 3, kCaptionBusy);
  add("Download, after a transfer", IDD_MAIN, 3, kCaptionAfterTransfer);
  add("pane, no terminal", IDD_MAIN, 5, kNoTerminalMessage);
  add("pane, connected", IDD_MAIN, 5, kConnectedMessage);
  add("pane, handset connected", IDD_MAIN, 5, kPaneConnected);
  add("pane, failed", IDD_MAIN, 5, kPaneTransferFailed);
  add("pane, done", IDD_MAIN, 5, kPaneTransferDone);
  for (const char* status :
       {kStatusIdle, kStatusNotReady, kStatusChecking, kStatusReady, kStatusDialling,
        kStatusConnected, kStatusDialFailed, kStatusTransferring, kStatusTransferFailed,
        kStatusTransferDone}) {
    add(status, IDD_MAIN, 6, status);
  }
  add("Help", IDD_MAIN, 7, "Help");
  add("Close", IDD_MAIN, 8, "Close");
  add("heading", IDD_MAIN, 11, "PLEASE READ CAREFULLY BEFORE PROCEDING");
  add("warning", IDD_MAIN, 12, kWarningText);
  const res::DialogTemplate& about = *res::FindDialogTemplate(IDD_ABOUT);
  for (int i = 0; i < 3; ++i) {
    const std::string text(about.controls[static_cast<std::size_t>(i)].text);
    QTest::addRow("About %d", i + 1) << IDD_ABOUT << i << QString::fromStdString(text);
  }
  add("help OK", IDD_HELP, 0, "OK");
}

void TextFitTest::FixedText_FitsItsControl() {
  QFETCH(int, dialog);
  QFETCH(int, index);
  QFETCH(QString, text);
  QDialog built;
  BuildDialogFromTemplate(built, *res::FindDialogTemplate(dialog));
  QWidget* control = built.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).value(index);
  QVERIFY(control != nullptr);
  const QFontMetrics metrics(control->font());
  const QString shown = text.remove(QLatin1Char('&'));  // a mnemonic's ampersand takes no room
  if (auto* button = qobject_cast<QPushButton*>(control)) {
    // One line, centred, inside the button's frame and margins.
    const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    const int needed = metrics.horizontalAdvance(shown) + margin + 2 * frame;
    QVERIFY2(needed <= button->width(),
             qPrintable(QStringLiteral("%1 px needed, %2 px wide").arg(needed).arg(button->width())));
    return;
  }
  // Statics wrap at word boundaries within their width and are cut at their bottom edge.
  const QRect needed = metrics.boundingRect(QRect(0, 0, control->width(), 100000),
                                            Qt::AlignLeft | Qt::TextWordWrap, shown);
  QVERIFY2(needed.height() <= control->height(),
           qPrintable(QStringLiteral("%1 px needed, %2 px tall, %3 lines of %4 px")
                          .arg(needed.height())
                          .arg(control->height())
                          .arg(needed.height() / metrics.lineSpacing())
                          .arg(metrics.lineSpacing())));
}

QTEST_MAIN(TextFitTest)
#include "text_fit_test.moc"
