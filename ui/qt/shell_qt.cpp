// The platform services the windows use beside their dialogs: the system menu's items, painting,
// the open-file dialog, icons, strings and the main window's link.
#include <dirent.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QStyle>

#include "res/icons.h"
#include "res/strings.h"
#include "ui/dialog.h"
#include "ui/qt/window_link_qt.h"

void CMenu::AppendSeparator() { m_menu->addSeparator(); }

void CMenu::AppendItem(unsigned command, const char* text) {
  QAction* item = m_menu->addAction(QString::fromUtf8(text));
  auto* dialog = dynamic_cast<CDialog*>(m_menu->parent());
  QObject::connect(item, &QAction::triggered, m_menu, [dialog, command] {
    if (dialog != nullptr) dialog->OnSysCommand(command, 0);
  });
}

CPaintDC::CPaintDC(CDialog& dialog) : m_dialog(dialog), m_painter(&dialog) {}

CPaintDC::~CPaintDC() = default;

void CPaintDC::EraseIconBackground() {
  m_painter.fillRect(m_dialog.rect(), m_dialog.palette().window());
}

void CPaintDC::DrawIcon(int x, int y, const CIconHandle& icon) {
  icon.paint(&m_painter, x, y, SystemIconWidth(), SystemIconHeight());
}

CFileDialog::CFileDialog(bool /*openFileDialog*/, const char* /*defaultExtension*/,
                         const char* /*fileName*/, unsigned /*flags*/, const char* filter,
                         CWnd* parent)
    : m_filter(filter != nullptr ? filter : ""), m_parent(parent) {}

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
  QWidget* owner = m_parent != nullptr ? m_parent : GetMainWindow();
  QFileDialog dialog(owner);
  dialog.setFileMode(QFileDialog::AnyFile);  // a typed name need not exist: Download says so
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters(names);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return IDCANCEL;
  }
  m_path = FileSystemPath(dialog.selectedFiles().first());
  return IDOK;
}

CIconHandle LoadAppIcon(int id) { return res::LoadIcon(id); }

std::string LoadResourceString(int id) { return std::string(res::LoadString(id)); }

int SystemIconWidth() { return QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize); }
int SystemIconHeight() { return SystemIconWidth(); }

std::unique_ptr<CWindowLink> MakeWindowLink(CDialog& window) {
  return std::make_unique<CQtWindowLink>(window);
}
