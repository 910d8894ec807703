// The Qt backend's own side of ui/dialog.h: the QDialog behind each CDialog (its window part),
// the template builder that makes it from res/ by dialog units, the text rules of the window
// system's controls, and the ways the backend's files (and the Qt tests) reach the widgets.
//
// Each CDialog makes its CQtDialogWindow at construction and builds it from its template in
// Create() or DoModal(); the window's parent in Qt is the dialog's owner's window, so owned
// windows go with their owner. The window hands Qt's events to the dialog's handlers.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QPointer>
#include <QRect>
#include <QString>
#include <functional>
#include <string>
#include <string_view>

#include "res/templates.h"
#include "ui/dialog.h"

class QMenu;

// An icon as Qt draws it; a CIconHandle points at one.
struct CIcon {
  QIcon icon;
};

// The toolkit window of one CDialog.
class CQtDialogWindow : public QDialog {
  Q_OBJECT

 public:
  CQtDialogWindow(CDialog& dialog, QWidget* parent);
  ~CQtDialogWindow() override;

  // The dialog this window belongs to; null once the dialog has gone.
  CDialog* Dialog() const { return m_dialog; }
  void ForgetDialog() { m_dialog = nullptr; }

  // Qt's own ways of ending a dialog are commands too.
  void accept() override;
  void reject() override;

  // Enables or disables one of this window's controls as the window system does: a control that
  // is disabled while it has the focus keeps it (Qt would pass it on to the next control), so
  // that the keys do nothing in this window until the operator clicks a control; enabled again,
  // it has the keys back.
  void EnableControl(QWidget* control, bool enable);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // Whether the focus rests on a disabled control, so that keys reach nothing.
  bool KeysGoNowhere() const;

  CDialog* m_dialog;
  QPointer<QWidget> m_disabledFocus;  // the control that was disabled with the focus
};

// Keeps the operator's input away from one window (and its controls) while it lives, as the
// window system keeps it from the disabled owner of a modal dialog or box; the window still
// paints and changes. Qt's own modality would block more: an application-modal dialog every
// window, a window-modal one its owner's other windows too (the help windows).
class COwnerBlocker : public QObject {
 public:
  explicit COwnerBlocker(QWidget* owner, QObject* parent = nullptr);
  ~COwnerBlocker() override;
  COwnerBlocker(const COwnerBlocker&) = delete;
  COwnerBlocker& operator=(const COwnerBlocker&) = delete;
  // The owner takes input again (at once, not when the blocker goes).
  void Release();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> m_owner;
  bool m_blocking;
};

struct CDialog::CWindowPart {
  CWindowPart(CDialog& dialog, QWidget* parent);
  ~CWindowPart();
  CWindowPart(const CWindowPart&) = delete;
  CWindowPart& operator=(const CWindowPart&) = delete;

  // The window has been destroyed (with its owner, or after the dialog ended): an auto-delete
  // dialog goes with it, any other one stays without a window.
  void WindowGone();
  // Builds the template into the window, owned by `owner` (null: the dialog's parent, else the
  // main window); false without a template or when already built.
  bool Build(int templateId, CWnd* owner);
  // Where a modeless dialog opens: its template position relative to its owner, cascaded.
  void PlaceModeless();
  void FocusFirstTabStop();
  int DefaultCommandID() const;
  // Runs `handler` with `m_default` as what Default() does meanwhile.
  void Dispatch(const std::function<void()>& handler, std::function<void()> m_default);

  // The dialog's handlers, as the window's events reach them.
  void Close() { m_dialog.OnClose(); }
  void Paint() { m_dialog.OnPaint(); }

  CDialog& m_dialog;
  QPointer<CQtDialogWindow> m_window;  // null once Qt has destroyed it (with its owner)
  bool m_built = false;
  std::function<void()> m_default;
  QMenu* m_systemMenu = nullptr;  // made by GetSystemMenu; a child of the window
};

// The dialog's window (null once it has gone), one of its controls by ID (null for none), a bound
// control's widget, the dialog of a window of ours (null for any other), and the system menu's
// items (null while it has none).
QDialog* QtWindow(const CDialog& dialog);
QWidget* QtDlgItem(const CDialog& dialog, int id);
QWidget* QtWidget(const CControl& control);
CDialog* DialogOfWindow(const QObject* window);
QMenu* QtSystemMenu(const CDialog& dialog);

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
// Enables or disables a control; in a window of ours, as CQtDialogWindow::EnableControl does.
void EnableControl(QWidget* control, bool enable);
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

// The name a file has in the file system for the path a Qt file dialog shows: the path's UTF-8,
// except that a component shown with U+FFFD (its name is not UTF-8) is found again among its
// directory's entries by how Qt shows them, so that it keeps its own bytes.
std::string FileSystemPath(const QString& shown);
