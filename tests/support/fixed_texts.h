// The fixed texts each control of the windows shows at one time or another, by the control's
// place in its template: what the text-fit tests of both toolkits lay out.
#pragma once

#include <string>
#include <vector>

#include "download/messages.h"
#include "res/resource.h"
#include "res/templates.h"

struct FixedText {
  std::string name;
  int dialog;
  int index;  // the control's place in its template
  std::string text;
};

inline std::vector<FixedText> FixedTexts() {
  // The main window's template order: 0 label, 2 Browse, 3 Download, 5 message pane, 6 status
  // line, 7 Help, 8 Close, 11 heading, 12 warning.
  std::vector<FixedText> rows = {
      {"label", IDD_MAIN, 0, "Enter the location of the Volk handcell software file (*.LDR)"},
      {"Browse", IDD_MAIN, 2, "Browse"},
      {"Download", IDD_MAIN, 3, kCaptionAfterDial},
      {"Download, busy", IDD_MAIN, 3, kCaptionBusy},
      {"Download, after a transfer", IDD_MAIN, 3, kCaptionAfterTransfer},
      {"pane, no terminal", IDD_MAIN, 5, kNoTerminalMessage},
      {"pane, connected", IDD_MAIN, 5, kConnectedMessage},
      {"pane, handset connected", IDD_MAIN, 5, kPaneConnected},
      {"pane, failed", IDD_MAIN, 5, kPaneTransferFailed},
      {"pane, done", IDD_MAIN, 5, kPaneTransferDone},
      {"Help", IDD_MAIN, 7, "Help"},
      {"Close", IDD_MAIN, 8, "Close"},
      {"heading", IDD_MAIN, 11, "PLEASE READ CAREFULLY BEFORE PROCEDING"},
      {"warning", IDD_MAIN, 12, kWarningText},
      {"help OK", IDD_HELP, 0, "OK"},
  };
  for (const char* status :
       {kStatusIdle, kStatusNotReady, kStatusChecking, kStatusReady, kStatusDialling,
        kStatusConnected, kStatusDialFailed, kStatusTransferring, kStatusTransferFailed,
        kStatusTransferDone}) {
    rows.push_back({status, IDD_MAIN, 6, status});
  }
  const res::DialogTemplate& about = *res::FindDialogTemplate(IDD_ABOUT);
  for (int i = 0; i < 3; ++i) {
    rows.push_back({"About " + std::to_string(i + 1), IDD_ABOUT, i,
                    std::string(about.controls[static_cast<std::size_t>(i)].text)});
  }
  return rows;
}
