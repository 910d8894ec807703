// The platform services the windows use beside their dialogs: the system menu's items, painting,
// the open-file dialog, icons, strings and the main window's link.
#include <dirent.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QStyle>
#include <map>

#include "res/icons.h"
#include "res/strings.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/window_link_qt.h"

void CMenu::AppendSeparator() {
  if (QMenu* menu = m_dialog.WindowPart().m_systemMenu) menu->addSeparator();
}

void CMenu::AppendItem(unsigned command, const char* text) {
  QMenu* menu = m_dialog.WindowPart().m_systemMenu;
  if (menu == nullptr) return;
  QAction* item = menu->addAction(QString::fromUtf8(text));
  CDialog* dialog = &m_dialog;
  QObject::connect(item, &QAction::triggered, menu,
                   [dialog, command] { dialog->OnSysCommand(command, 0); });
}

struct CPaintDC::CPaintPart {
  explicit CPaintPart(QDialog* window) : m_window(window), m_painter(window) {}
  QDialog* m_window;
  QPainter m_painter;
};

CPaintDC::CPaintDC(CDialog& dialog) : m_part(std::make_unique<CPaintPart>(QtWindow(dialog))) {}

CPaintDC::~CPaintDC() = default;

void CPaintDC::EraseIconBackground() {
  m_part->m_painter.fillRect(m_part->m_window->rect(), m_part->m_window->palette().window());
}

void CPaintDC::DrawIcon(int x, int y, CIconHandle icon) {
  if (icon != nullptr) {
    icon->icon.paint(&m_part->m_painter, x, y, SystemIconWidth(), SystemIconHeight());
  }
}

std::string FileSystemPath(const QString& shown) {
  constexpr char16_t kReplacement = 0xFFFD;
  const QStringList components = shown.split(QLatin1Char('/'));
  QByteArray path;
  for (qsizetype i = 0; i < components.size(); ++i) {
    const QString& component = components[i];
    if (i > 0) path += '/';
    QByteArray name = QFile::encodeName(component);
    if (component.contains(QChar(kReplacement))) {
      // The entry whose name Qt shows this way, when there is exactly one.
      QByteArray found;
      int matches = 0;
      if (DIR* dir = ::opendir(path.isEmpty() ? "." : path.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
          if (QFile::decodeName(entry->d_name) == component) {
            found = entry->d_name;
            ++matches;
          }
        }
        ::closedir(dir);
      }
      if (matches == 1) name = found;
    }
    path += name;
  }
  return path.toStdString();
}

int CFileDialog::DoModal() {
  // Qt shows each pair by its display text, which names its pattern in parentheses.
  QStringList names;
  const QStringList parts = QString::fromUtf8(m_filter.c_str()).split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty(); i += 2) names << parts[i];
  CWnd* owner = m_parent != nullptr ? m_parent : GetMainWindow();
  QWidget* ownerWindow = owner != nullptr ? QtWindow(*owner) : nullptr;
  QFileDialog dialog(ownerWindow);
  dialog.setFileMode(QFileDialog::AnyFile);  // a typed name need not exist: Download says so
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters(names);
  // Modal over its owner only, as the platform's file dialog is: the help windows and the
  // worker's boxes keep taking input (exec() would block them all).
  dialog.setWindowModality(Qt::NonModal);
  const COwnerBlocker blocker(ownerWindow);
  QEventLoop loop;
  QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
  dialog.show();
  loop.exec(QEventLoop::DialogExec);
  if (dialog.result() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return IDCANCEL;
  }
  m_path = FileSystemPath(dialog.selectedFiles().first());
  return IDOK;
}

CIconHandle LoadAppIcon(int id) {
  // Shared and never freed, as the platform's icons of a resource are: one per ID.
  static auto* const icons = new std::map<int, CIcon>;
  auto found = icons->find(id);
  if (found == icons->end()) {
    QIcon icon = res::LoadIcon(id);
    if (icon.isNull()) return nullptr;
    found = icons->emplace(id, CIcon{std::move(icon)}).first;
  }
  return &found->second;
}

std::string LoadResourceString(int id) { return std::string(res::LoadString(id)); }

int SystemIconWidth() { return QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize); }
int SystemIconHeight() { return SystemIconWidth(); }
int SystemCascadeStep() { return QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight); }

std::unique_ptr<CWindowLink> MakeWindowLink(CDialog& window) {
  return std::make_unique<CQtWindowLink>(window);
}
