// The main window end to end: initialisation with and without a terminal, Browse, whole
// downloads through the simulator, the About item's mask, Help, and the ways of closing.
#include "ui/download_dlg.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/messages.h"
#include "download/window_link.h"
#include "record/download_record.h"
#include "res/help_text.h"
#include "serial/com_mapping_posix.h"
#include "serial/serial_port.h"
#include "sim/fault_plan.h"
#include "sim/simulator.h"
#include "tests/ui/help_windows.h"
#include "ui/help_dlg.h"
#include "ui/qt/window_link_qt.h"

namespace {

constexpr int kWaitMs = 20000;

std::atomic<int> g_runningWorkers{0};

// Records every change the engine asks for, then has the real window carry it out.
class CRecordingForwarder : public CWindowLink {
 public:
  explicit CRecordingForwarder(CWindowLink& inner) : m_inner(inner) {}
  std::string GetItemText(int id) override { return m_inner.GetItemText(id); }
  void SetItemText(int id, const char* text) override {
    Record(id, text);
    m_inner.SetItemText(id, text);
  }
  void EnableItem(int id, bool enable) override { m_inner.EnableItem(id, enable); }
  void SetProgressRange(int id, std::int32_t lower, std::int32_t upper) override {
    m_inner.SetProgressRange(id, lower, upper);
  }
  void SetProgressStep(int id, std::int32_t step) override { m_inner.SetProgressStep(id, step); }
  void SetProgressPos(int id, std::int32_t position) override {
    m_inner.SetProgressPos(id, position);
  }
  void MessageBox(BoxOwner owner, const char* text, const char* caption) override {
    m_inner.MessageBox(owner, text, caption);
  }
  QStringList Statuses() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statuses;
  }

 private:
  void Record(int id, const char* text) {
    if (id == IDC_STATUS) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_statuses << QString::fromUtf8(text);
    }
  }
  CWindowLink& m_inner;
  std::mutex m_mutex;
  QStringList m_statuses;
};

// The main window with its two modal helpers replaced: the file dialog answers as told, and
// the About box is only counted.
class CTestDownloadDlg : public CDownloadDlg {
 public:
  bool m_choose = false;
  std::string m_chosen;
  int m_aboutBoxes = 0;

 protected:
  bool RunFileDialog(std::string& path) override {
    if (m_choose) path = m_chosen;
    return m_choose;
  }
  void RunAboutBox() override { ++m_aboutBoxes; }
};

QMessageBox* FindBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
      return box;
    }
  }
  return nullptr;
}

// Waits for a message box (the event loop runs meanwhile), presses its OK and says what it showed.
QString PressOk(QString* caption = nullptr) {
  QMessageBox* box = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while ((box = FindBox()) == nullptr && std::chrono::steady_clock::now() < deadline) {
    QTest::qWait(10);
  }
  if (box == nullptr) {
    return QStringLiteral("<no box>");
  }
  const QString text = box->text();
  if (caption != nullptr) *caption = box->windowTitle();
  box->button(QMessageBox::Ok)->click();
  return text;
}

std::string WriteFile(const QString& dir, const char* name, std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  if (!bytes.empty() && bytes[0] == ':') bytes[0] = 'x';
  const std::string path = (dir + QLatin1Char('/') + QLatin1String(name)).toStdString();
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

class DownloadDlgTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<sim::CSimulator> m_sim;
  QTemporaryDir m_dir;

  void StartSim(std::vector<sim::DeviceConfig> devices) {
    m_sim = std::make_unique<sim::CSimulator>();
    for (auto& d : devices) m_sim->Add(d);
    std::string error;
    QVERIFY2(m_sim->Start(error), error.c_str());
    qputenv(kComDirVariable, QByteArray::fromStdString(m_sim->ComDir()));
  }
  static sim::DeviceConfig Terminal(const std::vector<std::string>& knobs = {}) {
    sim::DeviceConfig config;
    config.comNumber = 9;
    for (const auto& k : knobs) {
      sim::Fault f;
      std::string error;
      if (sim::ParseFault(k, f, error)) config.faults.push_back(f);
    }
    return config;
  }
  // Builds and shows the window as the application does.
  static void Open(CTestDownloadDlg& dlg) {
    SetMainWindow(&dlg);
    SetMainWindowLink(&dlg.Link());
    QVERIFY(dlg.Create());
    dlg.ShowWindow(true);
  }
  // Waits until every worker has returned: one still handing the window back would otherwise
  // call into the window after the test has destroyed it.
  static void Close(CTestDownloadDlg& dlg) {
    QTRY_COMPARE_WITH_TIMEOUT(g_runningWorkers.load(), 0, kWaitMs);
    SetMainWindowLink(nullptr);
    SetMainWindow(nullptr);
    QtWindow(dlg)->hide();
  }
  static QString Text(CDownloadDlg& dlg, int id) { return GetWindowText(QtDlgItem(dlg, id)); }
  static bool Enabled(CDownloadDlg& dlg, int id) { return QtDlgItem(dlg, id)->isEnabled(); }

 private slots:
  void initTestCase() {
    // Workers as StartDownload starts them, counted while they run.
    SetWorkerStarter([](std::function<void()> body) {
      ++g_runningWorkers;
      std::thread([body = std::move(body)] {
        body();
        --g_runningWorkers;
      }).detach();
      return true;
    });
  }
  void cleanupTestCase() { SetWorkerStarter({}); }

  void cleanup() {
    CloseTerminalPort();
    m_sim.reset();
    qunsetenv(kComDirVariable);
  }

  void InitWithTerminal_ConnectedMessageBrowseOnly() {
    StartSim({Terminal()});
    CTestDownloadDlg dlg;
    Open(dlg);
    QCOMPARE(Text(dlg, IDC_MESSAGE), QString::fromUtf8(kConnectedMessage));
    QCOMPARE(Text(dlg, IDC_STATUS), QStringLiteral("File transfer progress indicator."));
    QVERIFY(
        Text(dlg, IDC_WARNING).startsWith(QStringLiteral("Configuration settings may be lost")));
    QVERIFY(Enabled(dlg, IDC_BROWSE));
    QVERIFY(!Enabled(dlg, IDC_DOWNLOAD));
    QVERIFY(g_terminalPort.IsOpen());
    QTRY_COMPARE(QApplication::focusWidget(), QtDlgItem(dlg, IDC_PATH));
    Close(dlg);
  }

  void InitWithoutTerminal_NoTerminalMessageBothDisabled() {
    StartSim({});
    CTestDownloadDlg dlg;
    Open(dlg);
    QCOMPARE(Text(dlg, IDC_MESSAGE), QString::fromUtf8(kNoTerminalMessage));
    QVERIFY(!Enabled(dlg, IDC_BROWSE));
    QVERIFY(!Enabled(dlg, IDC_DOWNLOAD));
    QVERIFY(!g_terminalPort.IsOpen());
    Close(dlg);
  }

  void Browse_data() {
    QTest::addColumn<bool>("choose");
    QTest::newRow("chosen") << true;
    QTest::newRow("cancelled") << false;
  }
  void Browse() {
    QFETCH(bool, choose);
    StartSim({Terminal()});
    CTestDownloadDlg dlg;
    Open(dlg);
    dlg.m_pathEdit.SetWindowText("typed.ldr");
    dlg.m_choose = choose;
    dlg.m_chosen = "/data/upgrade 1.6.7.ldr";
    QTest::mouseClick(QtWidget(dlg.m_browseButton), Qt::LeftButton);
    QCOMPARE(Text(dlg, IDC_PATH),
             choose ? QString::fromStdString(dlg.m_chosen) : QStringLiteral("typed.ldr"));
    QVERIFY(Enabled(dlg, IDC_DOWNLOAD));
    Close(dlg);
  }

  void WholeDownload_StatusLinesProgressFullAndImageArrives() {
    StartSim({Terminal()});
    CTestDownloadDlg dlg;
    Open(dlg);
    CRecordingForwarder recorder(dlg.Link());
    SetMainWindowLink(&recorder);
    const std::string path = WriteFile(m_dir.path(), "whole.ldr", 5000, 1);
    QTest::keyClicks(QtWidget(dlg.m_pathEdit), QString::fromStdString(path));
    QTest::mouseClick(QtWidget(dlg.m_browseButton), Qt::LeftButton);  // cancelled: enables Download
    QTest::mouseClick(QtWidget(dlg.m_downloadButton), Qt::LeftButton);
    QCOMPARE(Text(dlg, IDC_DOWNLOAD), QString::fromUtf8(kCaptionBusy));
    QString caption;
    QCOMPARE(PressOk(&caption), CQtWindowLink::DisplayText(kBoxTransferDone));
    QCOMPARE(caption, QStringLiteral("Status"));
    QTRY_COMPARE_WITH_TIMEOUT(Text(dlg, IDC_DOWNLOAD),
                              QStringLiteral("Download software to handset."), kWaitMs);
    QTRY_VERIFY(Enabled(dlg, IDC_DOWNLOAD) && Enabled(dlg, IDC_BROWSE));
    QCOMPARE(recorder.Statuses(),
             (QStringList{QString::fromUtf8(kStatusChecking), QString::fromUtf8(kStatusReady),
                          QString::fromUtf8(kStatusDialling), QString::fromUtf8(kStatusConnected),
                          QString::fromUtf8(kStatusTransferring),
                          QString::fromUtf8(kStatusTransferDone)}));
    auto* bar = qobject_cast<QProgressBar*>(QtDlgItem(dlg, IDC_PROGRESS));
    QVERIFY(bar != nullptr);
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(!bar->isTextVisible());
    QCOMPARE(Text(dlg, IDC_MESSAGE), QString::fromUtf8(kPaneTransferDone));
    const sim::DeviceStats stats = m_sim->Find(9)->Stats();
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    QVERIFY(stats.image == file);
    QVERIFY(stats.endFcsMatched);
    Close(dlg);
  }

  // A download from the window leaves one record, with its outcome and port, and its trace. The
  // suite runs this again under desktops' locales that write a decimal comma (Qt takes the C
  // library's locale from them): the line still reads and the trace's times keep their point.
  void WholeDownload_LeavesOneRecordAndOneTrace() {
    if (const QByteArray point = qgetenv("CORVANEL_TEST_DECIMAL_POINT"); !point.isEmpty()) {
      QCOMPARE(QByteArray(std::localeconv()->decimal_point), point);
    }
    const QString stateHome = m_dir.path() + QStringLiteral("/state-window");
    qputenv("XDG_STATE_HOME", stateHome.toUtf8());
    SetDownloadRecording("corvanel", nullptr);
    StartSim({Terminal()});
    CTestDownloadDlg dlg;
    Open(dlg);
    const std::string path = WriteFile(m_dir.path(), "recorded.ldr", 2500, 6);
    dlg.m_pathEdit.SetWindowText(path);
    dlg.OnCommand(IDC_BROWSE);
    dlg.OnCommand(IDC_DOWNLOAD);
    QCOMPARE(PressOk(), CQtWindowLink::DisplayText(kBoxTransferDone));
    Close(dlg);  // the worker has returned, and with it the record's end
    SetDownloadRecording(nullptr, nullptr);
    qunsetenv("XDG_STATE_HOME");

    const std::string folder = stateHome.toStdString() + "/corvanel";
    std::ifstream in(folder + "/upgrades.jsonl");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    QCOMPARE(lines.size(), std::size_t{1});
    DownloadRecord r;
    QVERIFY(ReadRecordLine(lines[0], r));
    QCOMPARE(r.program, std::string("corvanel"));
    QCOMPARE(r.outcome, std::string("completed"));
    QCOMPARE(r.status, std::string(kStatusTransferDone));
    QCOMPARE(r.port, std::string("\\\\.\\COM9"));
    QCOMPARE(r.file, path);
    QCOMPARE(r.fileBytes, std::optional<std::uint64_t>(2500));
    QCOMPARE(r.fileFcs, std::optional<std::uint16_t>(m_sim->Find(9)->Stats().imageFcs));
    QCOMPARE(r.blocks, 3u);
    std::ifstream trace(folder + "/" + r.trace);
    std::vector<std::string> events;
    for (std::string line; std::getline(trace, line);) events.push_back(line);
    QVERIFY(events.size() > 10);
    QVERIFY2(events.front().find(" open  \\\\.\\COM9") != std::string::npos,
             events.front().c_str());
    const std::string time = events.front().substr(0, events.front().find(" open"));
    QVERIFY2(time.find('.') == time.size() - 4 && time.find(',') == std::string::npos,
             time.c_str());
    QVERIFY2(events.back().find(" close \\\\.\\COM9") != std::string::npos, events.back().c_str());
  }

  // A file chosen in Browse whose name has letters of three scripts, or a byte that is not UTF-8
  // (Linux allows it): the path box shows it, hands back its very bytes and the file downloads.
  void ChosenFileName_DownloadsWhatever_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addRow("Unicode") << QByteArray(
        "\xC5\x81\xC3\xB3"
        "d\xC5\xBA-\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C-"
        "\xE8\xB7\xAF\xE5\xBE\x84.ldr");
    QTest::addRow("not UTF-8") << QByteArray("obraz-\xFF\xFE.ldr");
  }
  void ChosenFileName_DownloadsWhatever() {
    QFETCH(QByteArray, name);
    StartSim({Terminal()});
    CTestDownloadDlg dlg;
    Open(dlg);
    const std::string path = WriteFile(m_dir.path(), "any.ldr", 3000, 4);
    const std::string chosen =
        QFile::encodeName(m_dir.path()).toStdString() + "/" + name.toStdString();
    QCOMPARE(std::rename(path.c_str(), chosen.c_str()), 0);
    dlg.m_choose = true;
    dlg.m_chosen = chosen;
    QTest::mouseClick(QtWidget(dlg.m_browseButton), Qt::LeftButton);
    QCOMPARE(GetWindowTextUtf8(QtDlgItem(dlg, IDC_PATH)), chosen);
    QTest::mouseClick(QtWidget(dlg.m_downloadButton), Qt::LeftButton);
    QCOMPARE(PressOk(), CQtWindowLink::DisplayText(kBoxTransferDone));
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(dlg, IDC_DOWNLOAD), kWaitMs);
    QVERIFY(m_sim->Find(9)->Stats().endFcsMatched);
    // The file dialog's side: the name Qt shows leads back to the file's own bytes.
    QCOMPARE(FileSystemPath(QFile::decodeName(QByteArray::fromStdString(chosen))), chosen);
    std::remove(chosen.c_str());
    Close(dlg);
  }

  void EmptyFile_BarShowsFullNotBusy() {
    StartSim({Terminal()});
    CTestDownloadDlg dlg;
    Open(dlg);
    const std::string path = WriteFile(m_dir.path(), "empty.ldr", 0, 2);
    dlg.m_pathEdit.SetWindowText(path);
    dlg.OnCommand(IDC_BROWSE);
    dlg.OnCommand(IDC_DOWNLOAD);
    PressOk();
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(dlg, IDC_DOWNLOAD), kWaitMs);
    auto* bar = qobject_cast<QProgressBar*>(QtDlgItem(dlg, IDC_PROGRESS));
    QVERIFY(bar->maximum() > bar->minimum());  // never Qt's busy bar
    QCOMPARE(bar->value(), bar->maximum());
    Close(dlg);
  }

  void Failures_data() {
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("dial");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("buttons");
    QTest::newRow("no CONNECT") << "\r\nOK\r\n"
                                << "\r\nNO CARRIER\r\n"
                                << CQtWindowLink::DisplayText(kBoxNotInDownloadMode)
                                << QString::fromUtf8(kStatusDialFailed)
                                << QStringLiteral("Download software to handset") << true;
    QTest::newRow("no OK") << "\r\nERROR\r\n"
                           << "\r\nCONNECT\r\n"
                           << CQtWindowLink::DisplayText(kBoxNotResponding)
                           << QString::fromUtf8(kStatusNotReady) << QString::fromUtf8(kCaptionBusy)
                           << false;
  }
  void Failures() {
    QFETCH(QString, check);
    QFETCH(QString, dial);
    QFETCH(QString, box);
    QFETCH(QString, status);
    QFETCH(QString, caption);
    QFETCH(bool, buttons);
    sim::DeviceConfig config = Terminal();
    config.check = check.toStdString();
    config.dial = dial.toStdString();
    StartSim({config});
    CTestDownloadDlg dlg;
    Open(dlg);
    dlg.m_pathEdit.SetWindowText(WriteFile(m_dir.path(), "f.ldr", 1500, 3));
    dlg.OnCommand(IDC_BROWSE);
    dlg.OnCommand(IDC_DOWNLOAD);
    QString boxCaption;
    QCOMPARE(PressOk(&boxCaption), box);
    QCOMPARE(boxCaption, QStringLiteral("Error"));
    // The window as the worker leaves it, once it has returned.
    QTRY_COMPARE_WITH_TIMEOUT(g_runningWorkers.load(), 0, kWaitMs);
    QCOMPARE(Text(dlg, IDC_DOWNLOAD), caption);
    QCOMPARE(Enabled(dlg, IDC_DOWNLOAD), buttons);
    QCOMPARE(Enabled(dlg, IDC_BROWSE), buttons);
    QCOMPARE(Text(dlg, IDC_STATUS), status);
    QVERIFY(!g_terminalPort.IsOpen());
    QVERIFY(FindBox() == nullptr);  // exactly one box
    Close(dlg);
  }

  void MainWindowStaysUsable_WhileTheWorkersBoxIsShown() {
    StartSim({Terminal()});
    CTestDownloadDlg dlg;
    Open(dlg);
    dlg.m_pathEdit.SetWindowText(WriteFile(m_dir.path(), "u.ldr", 100, 4));
    dlg.OnCommand(IDC_BROWSE);
    dlg.OnCommand(IDC_DOWNLOAD);
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = FindBox()) != nullptr, kWaitMs);
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QVERIFY(box->parentWidget() == nullptr);
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->buttons().size(), 1);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QTest::mouseClick(QtDlgItem(dlg, IDC_HELP_BUTTON), Qt::LeftButton);  // the window still works
    QTRY_COMPARE(HelpWindows(dlg).size(), 1);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(dlg, IDC_DOWNLOAD), kWaitMs);
    Close(dlg);
  }

  void ColonFile_OwnedBoxCaptionedEroor() {
    StartSim({Terminal()});
    CTestDownloadDlg dlg;
    Open(dlg);
    const std::string path = (m_dir.path() + QStringLiteral("/colon.ldr")).toStdString();
    std::ofstream(path) << ":10000000";
    dlg.m_pathEdit.SetWindowText(path);
    QTimer::singleShot(0, [] {
      QMessageBox* box = FindBox();
      if (box != nullptr) {
        QVERIFY(box->parentWidget() != nullptr);
        QCOMPARE(box->windowTitle(), QStringLiteral("Eroor"));
        box->button(QMessageBox::Ok)->click();
      }
    });
    dlg.OnCommand(IDC_DOWNLOAD);
    QVERIFY(Enabled(dlg, IDC_DOWNLOAD));
    QVERIFY(Enabled(dlg, IDC_BROWSE));
    Close(dlg);
  }

  void AboutItem_data() {
    QTest::addColumn<quint32>("command");
    QTest::addColumn<int>("opened");
    QTest::newRow("0x0010") << quint32(0x0010) << 1;
    QTest::newRow("0x0013") << quint32(0x0013) << 1;
    QTest::newRow("0x001F") << quint32(0x001F) << 1;
    QTest::newRow("0xABCD0010") << quint32(0xABCD0010) << 1;
    QTest::newRow("0x0020") << quint32(0x0020) << 0;
    QTest::newRow("0xF010 (move)") << quint32(0xF010) << 0;
  }
  void AboutItem() {
    QFETCH(quint32, command);
    QFETCH(int, opened);
    StartSim({});
    CTestDownloadDlg dlg;
    Open(dlg);
    dlg.OnSysCommand(command, 0);
    QCOMPARE(dlg.m_aboutBoxes, opened);
    // The menu: a separator, then the About item.
    QVERIFY(QtSystemMenu(dlg) != nullptr);
    const auto actions = QtSystemMenu(dlg)->actions();
    QCOMPARE(actions.size(), 2);
    QVERIFY(actions[0]->isSeparator());
    QCOMPARE(actions[1]->text(), QStringLiteral("&About Corvanel..."));
    actions[1]->trigger();
    QCOMPARE(dlg.m_aboutBoxes, opened + 1);
    Close(dlg);
  }

  void ThreePressesOfHelp_ThreeWindowsWithTheWholeText() {
    StartSim({});
    CTestDownloadDlg dlg;
    Open(dlg);
    for (int i = 0; i < 3; ++i) {
      QTest::mouseClick(QtDlgItem(dlg, IDC_HELP_BUTTON), Qt::LeftButton);
    }
    const auto helps = HelpWindows(dlg);
    QCOMPARE(helps.size(), 3);
    for (CHelpDlg* help : helps) {
      QVERIFY(QtWindow(*help)->isVisible());
      const QString text = QString::fromStdString(help->m_helpText.GetWindowText());
      QCOMPARE(text.size(), qsizetype(2807));
      QCOMPARE(text.toStdString(), std::string(res::HelpText()));
    }
    Close(dlg);
  }

  // The main window's modal run must not block the worker's ownerless boxes: real input
  // (not a programmatic click) dismisses them while the window runs modally.
  void WorkerBoxTakesRealInput_DuringTheModalRun() {
    sim::DeviceConfig config = Terminal();
    config.check = std::string("\r\nERROR\r\n");
    StartSim({config});
    CTestDownloadDlg dlg;
    SetMainWindow(&dlg);
    SetMainWindowLink(&dlg.Link());
    const std::string path = WriteFile(m_dir.path(), "m.ldr", 100, 6);
    bool dismissed = false;
    QTimer::singleShot(0, QtWindow(dlg), [&] {
      dlg.m_pathEdit.SetWindowText(path);
      dlg.OnCommand(IDC_BROWSE);
      dlg.OnCommand(IDC_DOWNLOAD);
      QMessageBox* box = nullptr;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
      while ((box = FindBox()) == nullptr && std::chrono::steady_clock::now() < deadline) {
        QTest::qWait(10);
      }
      if (box != nullptr) {
        QPointer<QMessageBox> watched(box);
        box->activateWindow();
        QTest::keyClick(box->windowHandle(), Qt::Key_Return);
        QTest::qWait(50);
        if (watched.isNull() || !watched->isVisible()) {
          dismissed = true;
        } else {
          watched->button(QMessageBox::Ok)->click();  // release the worker so the test can end
        }
      }
      QTest::keyClick(QtWindow(dlg)->windowHandle(), Qt::Key_Escape);
    });
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    QVERIFY(dismissed);
    QTRY_VERIFY(!g_terminalPort.IsOpen());
    SetMainWindowLink(nullptr);
    SetMainWindow(nullptr);
  }

  void EnterInThePathBox_EndsTheModalRunLikeClose() {
    StartSim({});
    CTestDownloadDlg dlg;
    SetMainWindow(&dlg);
    QTimer::singleShot(0, QtWindow(dlg), [&dlg] {
      QWidget* path = QtDlgItem(dlg, IDC_PATH);
      path->setFocus();
      QTest::keyClick(path, Qt::Key_Return);
    });
    QCOMPARE(dlg.DoModal(), IDOK);
    SetMainWindow(nullptr);
  }

  void Escape_EndsTheModalRun() {
    StartSim({});
    CTestDownloadDlg dlg;
    SetMainWindow(&dlg);
    QTimer::singleShot(0, QtWindow(dlg),
                       [&dlg] { QTest::keyClick(QtWindow(dlg), Qt::Key_Escape); });
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    SetMainWindow(nullptr);
  }

  // The title bar's close in the middle of a download ends the process with 0 at once: run in
  // a child process, which closes its window while the transfer is under way.
  void TitleBarCloseDuringDownload_ExitsWithZero() {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CORVANEL_TEST_CHILD"), QStringLiteral("close-during-download"));
    env.insert(QStringLiteral("CORVANEL_TEST_DIR"), m_dir.path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(60000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput()) +
                        QString::fromUtf8(child.readAllStandardError());
    QVERIFY2(out.contains(QStringLiteral("closing while transferring")), qPrintable(out));
    QVERIFY2(!out.contains(QStringLiteral("still running")), qPrintable(out));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
  }

  // Close pressed the moment the last box is answered still leaves the download's record: the
  // window's close waits (a second at most) for the download to hand back and write it. The
  // record's file is held locked here until the child closes, as a slow disk would hold it.
  void CloseRightAfterTheLastBox_LeavesTheRecord() {
    const QString stateHome = m_dir.path() + QStringLiteral("/state-close");
    const std::string records = stateHome.toStdString() + "/corvanel/upgrades.jsonl";
    QVERIFY(QDir().mkpath(stateHome + QStringLiteral("/corvanel")));
    const int held = ::open(records.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CORVANEL_TEST_CHILD"), QStringLiteral("close-after-last-box"));
    env.insert(QStringLiteral("CORVANEL_TEST_DIR"), m_dir.path());
    env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QString out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!out.contains(QStringLiteral("closing after the last box")) &&
           std::chrono::steady_clock::now() < deadline && child.waitForReadyRead(1000)) {
      out += QString::fromUtf8(child.readAllStandardOutput());
    }
    // The disk catches up a moment later: well within the close's second, long after a close
    // that would not wait.
    QTest::qWait(200);
    ::close(held);
    QVERIFY(child.state() == QProcess::NotRunning || child.waitForFinished(60000));
    out += QString::fromUtf8(child.readAllStandardOutput()) +
           QString::fromUtf8(child.readAllStandardError());
    QVERIFY2(out.contains(QStringLiteral("closing after the last box")), qPrintable(out));
    QCOMPARE(child.exitCode(), 0);
    std::ifstream in(records);
    std::string line;
    QVERIFY2(std::getline(in, line), "no record line");
    DownloadRecord r;
    QVERIFY(ReadRecordLine(line, r));
    QCOMPARE(r.outcome, std::string("completed"));
  }
};

namespace {

// The child of TitleBarCloseDuringDownload: a slow, paced transfer, closed from the "title bar"
// (the window system's close) once it is under way. With `afterLastBox` (the child of
// CloseRightAfterTheLastBox) a quick, recorded one, closed as soon as its last box is answered
// and the window is handed back.
int RunCloseDuringDownload(int argc, char** argv, bool afterLastBox) {
  QApplication app(argc, argv);
  sim::DeviceConfig config;
  config.comNumber = 9;
  std::string error;
  if (afterLastBox) {
    SetDownloadRecording("corvanel", nullptr);
  } else {
    config.pacing = true;
    sim::Fault slow;
    sim::ParseFault("data=delay:100", slow, error);
    config.faults.push_back(slow);
  }
  sim::CSimulator sim;
  sim.Add(config);
  if (!sim.Start(error)) return 3;
  qputenv(kComDirVariable, QByteArray::fromStdString(sim.ComDir()));
  CTestDownloadDlg dlg;
  SetMainWindow(&dlg);
  SetMainWindowLink(&dlg.Link());
  dlg.Create();
  dlg.ShowWindow(true);
  const std::string path = WriteFile(qEnvironmentVariable("CORVANEL_TEST_DIR"), "long.ldr",
                                     afterLastBox ? 1500 : 60 * 1024, 5);
  dlg.m_pathEdit.SetWindowText(path);
  dlg.OnCommand(IDC_BROWSE);
  dlg.OnCommand(IDC_DOWNLOAD);
  QTimer poll;
  bool answered = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (afterLastBox) {
      if (QMessageBox* box = FindBox(); box != nullptr && !answered) {
        box->button(QMessageBox::Ok)->click();
        answered = true;
      } else if (answered && QtDlgItem(dlg, IDC_DOWNLOAD)->isEnabled()) {
        std::printf("closing after the last box\n");
        std::fflush(stdout);
        QtWindow(dlg)->close();
      }
      return;
    }
    auto* bar = qobject_cast<QProgressBar*>(QtDlgItem(dlg, IDC_PROGRESS));
    if (GetWindowText(QtDlgItem(dlg, IDC_STATUS)) == QString::fromUtf8(kStatusTransferring) &&
        bar->value() >= 2) {
      std::printf("closing while transferring\n");
      std::fflush(stdout);
      QtWindow(dlg)->close();  // the window system's close: WM_CLOSE
      std::printf("still running\n");
    }
  });
  poll.start(20);
  QTimer::singleShot(50000, [] { std::_Exit(4); });
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  const QString child = qEnvironmentVariable("CORVANEL_TEST_CHILD");
  if (child == QStringLiteral("close-during-download") ||
      child == QStringLiteral("close-after-last-box")) {
    return RunCloseDuringDownload(argc, argv, child == QStringLiteral("close-after-last-box"));
  }
  QApplication app(argc, argv);
  DownloadDlgTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "download_dlg_test.moc"
