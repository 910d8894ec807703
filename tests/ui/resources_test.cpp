// The resources as data: every control of the three templates, the dialogs themselves, the
// string table, the help text and the icons.
#include <QSet>
#include <QtTest>
#include <algorithm>
#include <string>

#include "res/help_text.h"
#include "res/icons.h"
#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"

using namespace res::ctl;
using res::ControlKind;

Q_DECLARE_METATYPE(res::ControlKind)

class ResourcesTest : public QObject {
  Q_OBJECT

 private slots:
  void Dialog_ControlsAreWellFormed_data();
  void Dialog_ControlsAreWellFormed();
  void MainDialog_ShowsItsFixedTexts_data();
  void MainDialog_ShowsItsFixedTexts();
  void Dialog_MatchesTemplateHeader_data();
  void Dialog_MatchesTemplateHeader();
  void UnknownTemplateOrControl_IsNotFound();
  void StringTable_GivesTextOrEmpty_data();
  void StringTable_GivesTextOrEmpty();
  void HelpText_Has2807CharactersJoinedFromItsPieces();
  void HelpText_BeginsAndEndsWithoutTrailingBreak();
  void HelpText_PieceTwoEndsInLoneLineFeed();
  void HelpText_KeepsQuotedDetails_data();
  void HelpText_KeepsQuotedDetails();
  void Icon_HasItsSizeAndOnlyPaletteColours_data();
  void Icon_HasItsSizeAndOnlyPaletteColours();
  void Icon_UnknownIdOrSize_IsNull();
  void MarkIcon_IsMirrorSymmetric();
};

void ResourcesTest::Dialog_ControlsAreWellFormed_data() {
  QTest::addColumn<int>("dialog");
  QTest::newRow("main") << IDD_MAIN;
  QTest::newRow("help") << IDD_HELP;
  QTest::newRow("about") << IDD_ABOUT;
}

// What any template must hold for its window to work: every control lies inside the dialog, every
// addressed ID names one control only (and FindControl finds that one), at most one button is the
// default that Enter presses, and a static icon names an icon that exists.
void ResourcesTest::Dialog_ControlsAreWellFormed() {
  QFETCH(int, dialog);
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(dialog);
  QVERIFY(dialogTemplate != nullptr);
  QSet<int> ids;
  int defaults = 0;
  for (const res::ControlTemplate& control : dialogTemplate->controls) {
    const QString name = QString("control %1 \"%2\"")
                             .arg(control.id)
                             .arg(QString::fromUtf8(control.text.data(),
                                                    static_cast<qsizetype>(control.text.size())));
    const res::DluRect& r = control.rect;
    QVERIFY2(r.x >= 0 && r.y >= 0 && r.cx > 0 && r.cy > 0 && r.x + r.cx <= dialogTemplate->cx &&
                 r.y + r.cy <= dialogTemplate->cy,
             qPrintable(name + " lies outside its dialog"));
    if (control.id != IDC_STATIC) {
      QVERIFY2(!ids.contains(control.id), qPrintable(name + " shares its ID"));
      ids.insert(control.id);
      QCOMPARE(dialogTemplate->FindControl(control.id), &control);
    }
    if (control.kind == ControlKind::PushButton && (control.style & kDefPushButton) != 0) {
      ++defaults;
    }
    if (control.kind == ControlKind::StaticIcon) {
      QVERIFY2(
          !res::IconImage(control.icon, 22).isNull() || !res::IconImage(control.icon, 32).isNull(),
          qPrintable(name + " names no icon"));
    }
  }
  QVERIFY(defaults <= 1);
}

void ResourcesTest::MainDialog_ShowsItsFixedTexts_data() {
  QTest::addColumn<QString>("text");
  QTest::newRow("prompt") << "Enter the location of the Volk handcell software file (*.LDR)";
  QTest::newRow("heading") << "PLEASE READ CAREFULLY BEFORE PROCEDING";
  QTest::newRow("browse") << "Browse";
  QTest::newRow("download") << "Download software to handset";
  QTest::newRow("help") << "Help";
  QTest::newRow("close") << "Close";
}

// The texts the operator reads on the main window, exactly as written, misspellings included.
void ResourcesTest::MainDialog_ShowsItsFixedTexts() {
  QFETCH(QString, text);
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(IDD_MAIN);
  QVERIFY(dialogTemplate != nullptr);
  const std::string wanted = text.toStdString();
  QVERIFY(std::any_of(dialogTemplate->controls.begin(), dialogTemplate->controls.end(),
                      [&](const res::ControlTemplate& c) { return c.text == wanted; }));
}

void ResourcesTest::Dialog_MatchesTemplateHeader_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<bool>("extended");
  QTest::addColumn<QSize>("size");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<uint>("style");
  QTest::addColumn<int>("controls");
  using namespace res::dlg;
  const uint frame = kPopup | kCaption | kSysMenu | kModalFrame | kSetFont;
  QTest::newRow("main") << IDD_MAIN << true << QSize(287, 289)
                        << "Tarvenix ISDN Software Upgrade via USB"
                        << (frame | res::dlg::kVisible | k3DLook | kNoIdleMsg | kAppWindow) << 13;
  QTest::newRow("help") << IDD_HELP << true << QSize(325, 263) << "Help" << frame << 2;
  QTest::newRow("about") << IDD_ABOUT << false << QSize(235, 55) << "About Corvanel" << frame << 3;
}

void ResourcesTest::Dialog_MatchesTemplateHeader() {
  QFETCH(int, dialog);
  QFETCH(bool, extended);
  QFETCH(QSize, size);
  QFETCH(QString, caption);
  QFETCH(uint, style);
  QFETCH(int, controls);
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(dialog);
  QVERIFY(dialogTemplate != nullptr);
  QCOMPARE(dialogTemplate->id, dialog);
  QCOMPARE(dialogTemplate->extended, extended);
  QCOMPARE(QSize(dialogTemplate->cx, dialogTemplate->cy), size);
  QCOMPARE(QString::fromUtf8(dialogTemplate->caption.data(),
                             static_cast<qsizetype>(dialogTemplate->caption.size())),
           caption);
  QCOMPARE(std::string(dialogTemplate->fontName), std::string("MS Sans Serif"));
  QCOMPARE(dialogTemplate->fontPointSize, 8);
  QCOMPARE(uint{dialogTemplate->style}, style);
  QCOMPARE(static_cast<int>(dialogTemplate->controls.size()), controls);
}

void ResourcesTest::UnknownTemplateOrControl_IsNotFound() {
  QVERIFY(res::FindDialogTemplate(101) == nullptr);
  QVERIFY(res::FindDialogTemplate(0) == nullptr);
  const res::DialogTemplate* mainTemplate = res::FindDialogTemplate(IDD_MAIN);
  QVERIFY(mainTemplate->FindControl(IDC_STATIC) == nullptr);
  QVERIFY(mainTemplate->FindControl(IDCANCEL) == nullptr);
  QVERIFY(mainTemplate->FindControl(1003) == nullptr);
}

void ResourcesTest::StringTable_GivesTextOrEmpty_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("text");
  QTest::newRow("IDS_ABOUTBOX") << IDS_ABOUTBOX << "&About Corvanel...";
  QTest::newRow("missing 0") << 0 << "";
  QTest::newRow("missing 102") << 102 << "";
  QTest::newRow("missing -1") << -1 << "";
}

void ResourcesTest::StringTable_GivesTextOrEmpty() {
  QFETCH(int, id);
  QFETCH(QString, text);
  const std::string_view loaded = res::LoadString(id);
  QCOMPARE(QString::fromUtf8(loaded.data(), static_cast<qsizetype>(loaded.size())), text);
}

void ResourcesTest::HelpText_Has2807CharactersJoinedFromItsPieces() {
  QCOMPARE(res::HelpText().size(), std::size_t{2807});
  const std::string joined = std::string(res::HelpPieceOne()) + std::string(res::HelpPieceTwo()) +
                             std::string(res::HelpPieceThree());
  QVERIFY(joined == res::HelpText());
  QVERIFY(res::HelpText().find('\0') == std::string_view::npos);
}

void ResourcesTest::HelpText_BeginsAndEndsWithoutTrailingBreak() {
  const std::string_view text = res::HelpText();
  QVERIFY(text.starts_with("Pre-requisite:"));
  QVERIFY(text.ends_with(
      "The user can decide to keep the original factory software or repeat loading the new "
      "software."));
  QVERIFY(res::HelpPieceOne().ends_with(
      "8. Verify the new software version in the handset settings menu: Menu -> Handset settings "
      "-> About.\r\n\r\n"));
}

void ResourcesTest::HelpText_PieceTwoEndsInLoneLineFeed() {
  QCOMPARE(std::string(res::HelpPieceTwo()),
           std::string("9. PC: Exit the PC application by pressing \"Close\".\n"));
  QVERIFY(res::HelpPieceThree().starts_with("\r\n\r\nSoftware upgrade - Flash Corruption"));
  // The one line feed without a carriage return before it is the end of piece two.
  const std::string_view text = res::HelpText();
  std::size_t loneFeeds = 0;
  std::size_t where = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
      ++loneFeeds;
      where = i;
    }
    if (text[i] == '\r') QVERIFY(i + 1 < text.size() && text[i + 1] == '\n');
  }
  QCOMPARE(loneFeeds, std::size_t{1});
  QCOMPARE(where, res::HelpPieceOne().size() + res::HelpPieceTwo().size() - 1);
}

void ResourcesTest::HelpText_KeepsQuotedDetails_data() {
  QTest::addColumn<QString>("fragment");
  QTest::newRow("blank line with a space") << "cable.\r\n \r\nIf your existing";
  QTest::newRow("two blanks before quote") << "display should be  \"Welcome To Handset";
  QTest::newRow("missing blank after comma") << "higher then,You should";
  QTest::newRow("Incase") << "\r\n\r\nIncase if PC application";
  QTest::newRow("53 equals signs")
      << "Procedure\r\n=====================================================\r\n\r\nDuring";
  QTest::newRow("blank before break") << "\"Self test\". \r\n\r\nBy pressing";
  QTest::newRow("arrow menu") << "Menu -> Handset settings -> About.";
}

void ResourcesTest::HelpText_KeepsQuotedDetails() {
  QFETCH(QString, fragment);
  QVERIFY(res::HelpText().find(fragment.toStdString()) != std::string_view::npos);
}

void ResourcesTest::Icon_HasItsSizeAndOnlyPaletteColours_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<int>("size");
  QTest::addColumn<int>("colours");  // at least this many palette colours
  QTest::newRow("IDI_APP 32") << IDI_APP << 32 << 6;
  QTest::newRow("IDI_APP 16") << IDI_APP << 16 << 6;
  QTest::newRow("IDI_MARK 22") << IDI_MARK << 22 << 2;
  QTest::newRow("IDI_APP 48") << IDI_APP << 48 << 6;
  QTest::newRow("IDI_APP 24") << IDI_APP << 24 << 6;
  QTest::newRow("IDI_MARK 33") << IDI_MARK << 33 << 2;
  QTest::newRow("IDI_MARK 48") << IDI_MARK << 48 << 2;
}

void ResourcesTest::Icon_HasItsSizeAndOnlyPaletteColours() {
  QFETCH(int, id);
  QFETCH(int, size);
  QFETCH(int, colours);
  QTest::failOnWarning(QRegularExpression("."));  // e.g. a pixel drawn outside the image
  const QImage image = res::IconImage(id, size);
  QCOMPARE(image.size(), QSize(size, size));
  const QSet<QRgb> palette(res::kIconPalette.begin(), res::kIconPalette.end());
  QCOMPARE(palette.size(), 16);
  QSet<QRgb> used;
  int opaque = 0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (qAlpha(pixel) == 0) continue;
      QVERIFY2(palette.contains(pixel),
               qPrintable(QString("pixel %1,%2 is %3").arg(x).arg(y).arg(pixel, 8, 16)));
      used.insert(pixel);
      ++opaque;
    }
  }
  QVERIFY(used.size() >= colours);
  QVERIFY(opaque >= size * size / 4);
  QVERIFY(opaque < size * size);  // the corners stay transparent
}

void ResourcesTest::Icon_UnknownIdOrSize_IsNull() {
  QVERIFY(res::IconImage(IDI_APP, 22).isNull());
  QVERIFY(res::IconImage(IDI_MARK, 16).isNull());
  QVERIFY(res::IconImage(129, 32).isNull());
}

void ResourcesTest::MarkIcon_IsMirrorSymmetric() {
  for (int size : {22, 32, 33, 48}) {
    const QImage image = res::IconImage(IDI_MARK, size);
    QCOMPARE(image, image.mirrored(true, false));
  }
}

QTEST_GUILESS_MAIN(ResourcesTest)
#include "resources_test.moc"
