// Every fixed text fits the control that shows it, laid out with the control's own font and
// width (word wrap where the control wraps), in the windows as the template builder makes them.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QtTest>

#include "tests/support/fixed_texts.h"
#include "ui/qt/qt_window.h"

class TextFitTest : public QObject {
  Q_OBJECT

 private slots:
  void FixedText_FitsItsControl_data();
  void FixedText_FitsItsControl();
};

void TextFitTest::FixedText_FitsItsControl_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<int>("index");
  QTest::addColumn<QString>("text");
  for (const FixedText& row : FixedTexts()) {
    QTest::newRow(row.name.c_str()) << row.dialog << row.index << QString::fromStdString(row.text);
  }
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
    QVERIFY2(
        needed <= button->width(),
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
