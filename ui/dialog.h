// The framework-like layer the windows are written on, once for both toolkits: CDialog (modal and
// modeless dialogs from the numbered templates, OnInitDialog, DoDataExchange, OnCommand,
// OnSysCommand, OnPaint, OnClose, Default), CControl and DDX_Control, FindDlgItem, the main
// window, CMenu (the system menu), CPaintDC, CFileDialog, LoadAppIcon, LoadResourceString and the
// main window's link. Each platform's backend (ui/qt, ui/win32) provides the same names; the build
// puts exactly one of them on the include path. The default command handling, the same on both,
// and the rest that needs no toolkit are in dialog_commands.cpp.
#pragma once

#include "ui_backend.h"
