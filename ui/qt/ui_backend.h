// The framework-like layer on Qt: dialogs built from res/ templates by dialog units, with the
// dialog manager's commands and keys, and the few platform services the windows use (system
// menu, icons, painting, the open-file dialog, message boxes through the window link).
//
// Contract:
// - UI thread only. A dialog's controls exist once Create() or DoModal() has built it; before
//   that, and for unknown IDs, GetDlgItem returns null and the item helpers do nothing.
// - Controls are found by their template IDs; controls with IDC_STATIC are never found.
// - Every command arrives at OnCommand(id): a button's click (its ID), Enter (the focused push
//   button's ID, else the default push button's, else IDOK), Escape (IDCANCEL), and the close box
//   (through OnClose, which sends IDCANCEL). By default IDOK runs OnOK and IDCANCEL OnCancel.
// - A control's text reads back exactly as it was last set (line breaks included) until the
//   operator edits it; an edited multi-line edit reads back with "\r\n" line breaks.
// - Texts of the system are UTF-8 (`const char*`, std::string); QString is accepted as well.
// - Where a dialog opens: a modal one centred over its owner (the main window on the screen), a
//   modeless one at its template position relative to its owner, stepped down and right when a
//   dialog of the same template already stands there.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QPointer>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "res/resource.h"
#include "res/templates.h"

class QMenu;
class CWindowLink;

// A window that can own others: any widget on Qt.
using CWnd = QWidget;
// An icon as the windows show it.
using CIconHandle = QIcon;

// Pixels per dialog unit for one dialog font: x in quarters of the average character width,
// y in eighths of the character height, rounded to the nearest pixel as the window system does.
class CDialogUnits {
 public:
  explicit CDialogUnits(const QFont& font);
  CDialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }
  int MapX(int dluX) const;
  int MapY(int dluY) const;
  QRect MapRect(const res::DluRect& rect) const;

 private:
  int m_baseX;
  int m_baseY;
};

// The template's font at its point size, or the closest sans-serif font that is installed.
QFont DialogFont(const res::DialogTemplate& dialogTemplate);

// Builds the template into `dialog`: caption, font, fixed client size, window flags and every
// control at its rectangle, each carrying its ID; the tab order is the template order.
void BuildDialogFromTemplate(QDialog& dialog, const res::DialogTemplate& dialogTemplate);

// The control of `dialog` (any window built from a template) with this ID, or null.
QWidget* GetDlgItem(const QWidget* dialog, int id);
// The template ID of a control, IDC_STATIC for anything else.
int GetDlgCtrlID(const QWidget* control);
// A control's text: statics, edits and buttons; the dialog's caption for a dialog.
void SetWindowText(QWidget* window, const QString& text);
QString GetWindowText(const QWidget* window);
// The same with the system's UTF-8 bytes. A text that is not valid UTF-8 (a Linux file name may
// hold any byte) shows with U+FFFD for each stray byte, and reads back as the very bytes it was
// set with until the control shows something else.
void SetWindowTextUtf8(QWidget* window, std::string_view text);
std::string GetWindowTextUtf8(const QWidget* window);

// The application's main window: the owner of dialogs that name no parent.
void SetMainWindow(QWidget* window);
QWidget* GetMainWindow();

// A member bound to one control of a dialog by DDX_Control; acts on that control.
class CControl {
 public:
  QWidget* Widget() const { return m_widget; }
  template <class W>
  W* As() const {
    return qobject_cast<W*>(m_widget.data());
  }
  int ID() const { return m_id; }
  explicit operator bool() const { return !m_widget.isNull(); }

  void SetWindowText(const QString& text);
  void SetWindowText(const char* text) { ::SetWindowTextUtf8(m_widget, text); }
  void SetWindowText(const std::string& text) { ::SetWindowTextUtf8(m_widget, text); }
  QString GetWindowText() const;
  void EnableWindow(bool enable);
  bool IsWindowEnabled() const;

 private:
  friend CControl FindDlgItem(const QWidget* window, int id);
  QPointer<QWidget> m_widget;
  int m_id = IDC_STATIC;
};

// The control with this ID of a window, found by its ID (unbound when there is none).
CControl FindDlgItem(const QWidget* window, int id);

// A window's system menu. A window manager's menu cannot be extended by an application, so the
// dialog offers these items in its context menu (right click); they come back as system commands.
class CMenu {
 public:
  explicit CMenu(QMenu* menu) : m_menu(menu) {}
  void AppendSeparator();
  void AppendItem(unsigned command, const char* text);

 private:
  QMenu* m_menu;
};

class CDialog;

// Painting of a dialog, for the span of one OnPaint.
class CPaintDC {
 public:
  explicit CPaintDC(CDialog& dialog);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  // Erases the background under a minimised window's icon.
  void EraseIconBackground();
  void DrawIcon(int x, int y, const CIconHandle& icon);

 private:
  CDialog& m_dialog;
  QPainter m_painter;
};

// The name a file has in the file system for the path a Qt file dialog shows: the path's UTF-8,
// except that a component shown with U+FFFD (its name is not UTF-8) is found again among its
// directory's entries by how Qt shows them, so that it keeps its own bytes.
std::string FileSystemPath(const QString& shown);

// The open-file dialog; the path it gives is the file's name in the file system (FileSystemPath).
// `filter` is pairs of a display text and a pattern, each ended by '|', the list ended by an empty
// pair; the first pair is selected. `flags` are the platform's.
class CFileDialog {
 public:
  CFileDialog(bool openFileDialog, const char* defaultExtension, const char* fileName,
              unsigned flags, const char* filter, CWnd* parent = nullptr);
  // IDOK when the operator chose a file, IDCANCEL otherwise.
  int DoModal();
  std::string GetPathName() const { return m_path; }

 private:
  std::string m_filter;
  CWnd* m_parent;
  std::string m_path;
};

// Icon resource `id` at the system's sizes; a string resource (empty when there is none).
CIconHandle LoadAppIcon(int id);
std::string LoadResourceString(int id);
// The system's icon size (the minimised window's icon).
int SystemIconWidth();
int SystemIconHeight();

class CDialog : public QDialog {
  Q_OBJECT

 public:
  // `parent` becomes the owner (Qt parent) of the dialog's window; the window itself is made by
  // Create() or DoModal() from template `templateId`.
  explicit CDialog(int templateId, QWidget* parent = nullptr);
  ~CDialog() override;

  // Builds the dialog, runs OnInitDialog before it is first shown and runs it modally over its
  // owner (blocking only that window). Returns the EndDialog result (IDOK, IDCANCEL, ...), or -1
  // without a template.
  int DoModal();
  // Builds a modeless dialog and runs OnInitDialog; it stays hidden until ShowWindow unless the
  // template is visible. `templateId` 0 means the constructor's; `parent` null means the
  // constructor's parent, else the main window. False without a template or when already built.
  bool Create(int templateId = 0, QWidget* parent = nullptr);
  void ShowWindow(bool show = true);
  // Ends the dialog with `result`: ends DoModal, or hides a modeless dialog (and, with auto-delete,
  // frees it soon after).
  void EndDialog(int result);

  QWidget* GetDlgItem(int id) const;
  void SetDlgItemText(int id, const QString& text);
  QString GetDlgItemText(int id) const;
  void EnableDlgItem(int id, bool enable);
  bool IsDlgItemEnabled(int id) const;

  bool IsRunningModal() const { return m_runningModal; }
  // A modeless dialog with auto-delete frees itself once it has ended.
  void SetAutoDelete(bool autoDelete) { m_autoDelete = autoDelete; }

  // The items of the system menu (the context menu here); null while it has none.
  QMenu* SystemMenu() const;

  // Commands as the dialog manager sends them; true when the command was handled.
  virtual bool OnCommand(int id);
  // A system command (the system menu's items, the title bar's close); default handling here.
  virtual void OnSysCommand(unsigned command, long parameter);

  // Qt's own ways of ending a dialog are commands too.
  void accept() override;
  void reject() override;

 protected:
  // Base initialisation: runs DoDataExchange. True gives the focus to the first enabled
  // tab-stop control.
  virtual bool OnInitDialog();
  // Binds members to controls with DDX_Control.
  virtual void DoDataExchange();
  virtual void OnOK();
  virtual void OnCancel();
  // The close box (or the window system's close): sends IDCANCEL.
  virtual void OnClose();
  // Painting; the default handling paints the dialog.
  virtual void OnPaint();
  // The cursor shown while the minimised window is dragged (not asked for on this platform).
  virtual CIconHandle OnQueryDragIcon();

  // The default handling of the message being handled.
  void Default();
  void DDX_Control(CControl& control, int id);
  // The window's system menu; `revert` is accepted for the platform's signature and ignored.
  CMenu* GetSystemMenu(bool revert);
  void SetIcon(const CIconHandle& icon, bool bigIcon);
  bool IsIconic() const { return isMinimized(); }
  void GetClientSize(int& width, int& height) const;

  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool Build(int templateId, QWidget* owner);
  // Where a modeless dialog opens: its template position relative to its owner, cascaded.
  void PlaceModeless();
  void FocusFirstTabStop();
  int DefaultCommandID() const;
  // Runs `handler` with `defaultHandling` as what Default() does meanwhile.
  void Dispatch(const std::function<void()>& handler, std::function<void()> defaultHandling);

  int m_templateId;
  bool m_built = false;
  bool m_runningModal = false;
  bool m_autoDelete = false;
  std::function<void()> m_default;
  QMenu* m_systemMenu = nullptr;
  std::unique_ptr<CMenu> m_systemMenuWrapper;
};

// The window link of a main window: the download engine's changes, carried out on the UI thread.
std::unique_ptr<CWindowLink> MakeWindowLink(CDialog& window);
