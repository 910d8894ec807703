#include "ui/about_dlg.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUT, nullptr) {}

CAboutDlg::~CAboutDlg() = default;
