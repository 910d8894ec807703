// Dialogs built from res/ templates, with the dialog manager's commands and keyboard rules.
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
#pragma once

#include <QDialog>
#include <QFont>
#include <QHash>
#include <QPointer>
#include <QRect>
#include <QString>

#include "res/resource.h"
#include "res/templates.h"

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
  QString GetWindowText() const;
  void EnableWindow(bool enable);
  bool IsWindowEnabled() const;

 private:
  friend class CDialog;
  QPointer<QWidget> m_widget;
  int m_id = IDC_STATIC;
};

class CDialog : public QDialog {
  Q_OBJECT

 public:
  // `parent` becomes the owner (Qt parent) of the dialog's window; the window itself is made by
  // Create() or DoModal() from template `templateId`.
  explicit CDialog(int templateId, QWidget* parent = nullptr);
  ~CDialog() override;

  // Builds the dialog, runs OnInitDialog before it is first shown and runs it application-modal
  // over its owner. Returns the EndDialog result (IDOK, IDCANCEL, ...), or -1 without a template.
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

  // Commands as the dialog manager sends them; true when the command was handled.
  virtual bool OnCommand(int id);

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

  void DDX_Control(CControl& control, int id);

  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  bool Build(int templateId, QWidget* owner);
  void FocusFirstTabStop();
  int DefaultCommandID() const;

  int m_templateId;
  bool m_built = false;
  bool m_runningModal = false;
  bool m_autoDelete = false;
};
