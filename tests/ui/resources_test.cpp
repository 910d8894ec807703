// The resources as data: every control of the three templates, the dialogs themselves, the
// string table, the help text and the icons.
#include <QSet>
#include <QtTest>
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
  void ResourceIds_HaveTheirNumbers_data();
  void ResourceIds_HaveTheirNumbers();
  void Control_MatchesTemplateTable_data();
  void Control_MatchesTemplateTable();
  void Dialog_MatchesTemplateHeader_data();
  void Dialog_MatchesTemplateHeader();
  void UnknownTemplateOrControl_IsNotFound();
  void StringTable_GivesTextOrEmpty_data();
  void StringTable_GivesTextOrEmpty();
  void HelpText_Has2807CharactersFromThreePieces();
  void HelpText_BeginsAndEndsWithoutTrailingBreak();
  void HelpText_PieceTwoEndsInLoneLineFeed();
  void HelpText_KeepsQuotedDetails_data();
  void HelpText_KeepsQuotedDetails();
  void Icon_HasItsSizeAndOnlyPaletteColours_data();
  void Icon_HasItsSizeAndOnlyPaletteColours();
  void Icon_UnknownIdOrSize_IsNull();
  void MarkIcon_IsMirrorSymmetric();
};

void ResourcesTest::ResourceIds_HaveTheirNumbers_data() {
  QTest::addColumn<long long>("actual");
  QTest::addColumn<long long>("expected");
  QTest::newRow("IDD_ABOUT") << 0LL + IDD_ABOUT << 100LL;
  QTest::newRow("IDD_MAIN") << 0LL + IDD_MAIN << 102LL;
  QTest::newRow("IDD_HELP") << 0LL + IDD_HELP << 103LL;
  QTest::newRow("IDS_ABOUTBOX") << 0LL + IDS_ABOUTBOX << 101LL;
  QTest::newRow("IDI_APP") << 0LL + IDI_APP << 128LL;
  QTest::newRow("IDI_MARK") << 0LL + IDI_MARK << 140LL;
  QTest::newRow("IDM_ABOUTBOX") << 0LL + IDM_ABOUTBOX << 0x10LL;
  QTest::newRow("IDOK") << 0LL + IDOK << 1LL;
  QTest::newRow("IDCANCEL") << 0LL + IDCANCEL << 2LL;
  QTest::newRow("IDC_STATIC") << 0LL + IDC_STATIC << -1LL;
  QTest::newRow("IDC_PATH") << 0LL + IDC_PATH << 1000LL;
  QTest::newRow("IDC_BROWSE") << 0LL + IDC_BROWSE << 1001LL;
  QTest::newRow("IDC_DOWNLOAD") << 0LL + IDC_DOWNLOAD << 1002LL;
  QTest::newRow("IDC_PROGRESS") << 0LL + IDC_PROGRESS << 1004LL;
  QTest::newRow("IDC_STATUS") << 0LL + IDC_STATUS << 1012LL;
  QTest::newRow("IDC_HELP_BUTTON") << 0LL + IDC_HELP_BUTTON << 1013LL;
  QTest::newRow("IDC_MESSAGE") << 0LL + IDC_MESSAGE << 1019LL;
  QTest::newRow("IDC_WARNING") << 0LL + IDC_WARNING << 1026LL;
  QTest::newRow("IDC_HELP_TEXT") << 0LL + IDC_HELP_TEXT << 1000LL;
}

void ResourcesTest::ResourceIds_HaveTheirNumbers() {
  QFETCH(long long, actual);
  QFETCH(long long, expected);
  QCOMPARE(actual, expected);
}

void ResourcesTest::Control_MatchesTemplateTable_data() {
  QTest::addColumn<int>("dialog");
  QTest::addColumn<int>("index");
  QTest::addColumn<int>("id");
  QTest::addColumn<res::ControlKind>("kind");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("rect");  // x, y, cx, cy in dialog units
  QTest::addColumn<uint>("style");
  QTest::addColumn<int>("icon");

  const uint v = kVisible;
  const uint leftGroup = v | kLeft | kGroup;
  auto row = [](const char* name, int dialog, int index, int id, ControlKind kind, const char* text,
                QRect rect, uint style, int icon = 0) {
    QTest::newRow(name) << dialog << index << id << kind << QString::fromUtf8(text) << rect << style
                        << icon;
  };
  row("main 1 prompt", IDD_MAIN, 0, -1, ControlKind::Static,
      "Enter the location of the Volk handcell software file (*.LDR)", {14, 3, 234, 12}, leftGroup);
  row("main 2 path", IDD_MAIN, 1, 1000, ControlKind::Edit, "", {15, 18, 182, 14},
      v | kBorder | kTabStop | kAutoHScroll);
  row("main 3 browse", IDD_MAIN, 2, 1001, ControlKind::PushButton, "Browse", {229, 17, 50, 14},
      v | kTabStop);
  row("main 4 download", IDD_MAIN, 3, 1002, ControlKind::PushButton, "Download software to handset",
      {16, 193, 110, 14}, v | kTabStop);
  row("main 5 progress", IDD_MAIN, 4, 1004, ControlKind::ProgressBar, "Progress1",
      {15, 233, 263, 14}, v | kBorder);
  row("main 6 message", IDD_MAIN, 5, 1019, ControlKind::Static, "", {15, 134, 264, 50}, leftGroup);
  row("main 7 status", IDD_MAIN, 6, 1012, ControlKind::Static, "", {15, 219, 181, 8}, leftGroup);
  row("main 8 help", IDD_MAIN, 7, 1013, ControlKind::PushButton, "Help", {15, 264, 50, 14},
      v | kTabStop);
  row("main 9 close", IDD_MAIN, 8, 1, ControlKind::PushButton, "Close", {229, 267, 50, 14},
      v | kTabStop);
  row("main 10 mark right", IDD_MAIN, 9, -1, ControlKind::StaticIcon, "", {233, 40, 20, 20},
      v | kIcon, IDI_MARK);
  row("main 11 mark left", IDD_MAIN, 10, -1, ControlKind::StaticIcon, "", {18, 40, 20, 20},
      v | kIcon, IDI_MARK);
  row("main 12 heading", IDD_MAIN, 11, -1, ControlKind::Static,
      "PLEASE READ CAREFULLY BEFORE PROCEDING", {46, 47, 180, 10}, leftGroup);
  row("main 13 warning", IDD_MAIN, 12, 1026, ControlKind::Static, "Static", {26, 66, 251, 66},
      leftGroup);
  row("help 1 ok", IDD_HELP, 0, 1, ControlKind::PushButton, "OK", {121, 241, 50, 14},
      v | kDefPushButton | kTabStop);
  row("help 2 text", IDD_HELP, 1, 1000, ControlKind::Edit, "", {9, 7, 312, 229},
      v | kMultiLine | kReadOnly | kVScroll | kAutoVScroll | kBorder | kTabStop | kClientEdge |
          kStaticEdge);
  row("about 1 name", IDD_ABOUT, 0, -1, ControlKind::Static,
      "Tarvenix ISDN Handset Software Upgrade via USB  Version 1.6.7", {7, 10, 221, 8},
      v | kNoPrefix | kGroup);
  row("about 2 copyright", IDD_ABOUT, 1, -1, ControlKind::Static, "Copyright (C) 2026",
      {40, 25, 119, 8}, leftGroup);
  row("about 3 ok", IDD_ABOUT, 2, 1, ControlKind::PushButton, "OK", {171, 21, 50, 14},
      v | kDefPushButton | kGroup | kTabStop);
}

void ResourcesTest::Control_MatchesTemplateTable() {
  QFETCH(int, dialog);
  QFETCH(int, index);
  QFETCH(int, id);
  QFETCH(res::ControlKind, kind);
  QFETCH(QString, text);
  QFETCH(QRect, rect);
  QFETCH(uint, style);
  QFETCH(int, icon);

  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(dialog);
  QVERIFY(dialogTemplate != nullptr);
  QVERIFY(static_cast<std::size_t>(index) < dialogTemplate->controls.size());
  const res::ControlTemplate& control = dialogTemplate->controls[static_cast<std::size_t>(index)];
  QCOMPARE(control.id, id);
  QCOMPARE(control.kind, kind);
  QCOMPARE(QString::fromUtf8(control.text.data(), static_cast<qsizetype>(control.text.size())),
           text);
  QCOMPARE(QRect(control.rect.x, control.rect.y, control.rect.cx, control.rect.cy), rect);
  QCOMPARE(uint{control.style}, style);
  QCOMPARE(control.icon, icon);
  if (id != IDC_STATIC) QCOMPARE(dialogTemplate->FindControl(id), &control);
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

void ResourcesTest::HelpText_Has2807CharactersFromThreePieces() {
  QCOMPARE(res::HelpText().size(), std::size_t{2807});
  QCOMPARE(res::HelpPieceOne().size(), std::size_t{1985});
  QCOMPARE(res::HelpPieceTwo().size(), std::size_t{52});
  QCOMPARE(res::HelpPieceThree().size(), std::size_t{770});
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
  QCOMPARE(where, std::size_t{1985 + 51});
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
  QVERIFY(res::IconImage(IDI_MARK, 32).isNull());
  QVERIFY(res::IconImage(129, 32).isNull());
}

void ResourcesTest::MarkIcon_IsMirrorSymmetric() {
  const QImage image = res::IconImage(IDI_MARK, 22);
  QCOMPARE(image, image.mirrored(true, false));
}

QTEST_GUILESS_MAIN(ResourcesTest)
#include "resources_test.moc"
