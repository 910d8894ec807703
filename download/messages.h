// Every text the operator sees that the code sets (the dialog templates in res/ hold the rest):
// the download engine's, the main window's and the application's. They are used exactly as they
// stand, misspellings and missing blanks included: operators and their documentation know them
// this way.
#pragma once

// The application's name: the caption of the main window's own boxes that have none.
inline constexpr const char* kAppName = "Corvanel";
// The caption of an ownerless box that has none of its own.
inline constexpr const char* kDefaultBoxCaption = "Error";

// Shown whenever detection finds no terminal, by the main window and by StartDownload. The
// support address at its end is short enough for the whole text to fit the message pane's six
// lines of the dialog font.
inline constexpr const char* kNoTerminalMessage =
    "No terminal connected.\n\nMake sure that the terminal is connected to the PC or that some "
    "other PC application is not accessing the terminal USB port. Restart the PC application and "
    "start again.If the problem persists, please verify the USB connection according the FAQ "
    "documentation found on www.tarvenix.example/faq";

inline constexpr const char* kConnectedMessage =
    "Connected with terminal.\n\nMake sure that the handset is in software download mode. Select "
    "the upgrade file and press download software to handset button to start downloading. Press "
    "help button for further details on how to enter download mode on handset.";

// Download button captions.
inline constexpr const char* kCaptionBusy = "Transfering software to handset";
inline constexpr const char* kCaptionAfterDial = "Download software to handset";
inline constexpr const char* kCaptionAfterTransfer = "Download software to handset.";

// Status line.
inline constexpr const char* kStatusIdle = "File transfer progress indicator.";  // at start-up
inline constexpr const char* kStatusNotReady = "Terminal not ready.";
inline constexpr const char* kStatusChecking = "Checking the terminal...";
inline constexpr const char* kStatusReady = "Terminal ready.";
inline constexpr const char* kStatusDialling = "Establishing connection with handset...";
inline constexpr const char* kStatusConnected = "Connected with handset.";
inline constexpr const char* kStatusDialFailed = "Connection establishment with handset failed.";
inline constexpr const char* kStatusTransferring = "Transferring the file to handset...";
inline constexpr const char* kStatusTransferFailed = "Transfer failed.";
inline constexpr const char* kStatusTransferDone = "Transfer completed.";

// Message pane.
inline constexpr const char* kPaneConnected =
    "Handset must not be disconnected until upgradation process finished.";
inline constexpr const char* kPaneTransferFailed = "\n\nFile download failed. Try again.";
inline constexpr const char* kPaneTransferDone = "Software downloaded to handset successfully.";

// Message boxes.
inline constexpr const char* kBoxEnterSoftwareFile = "Please enter the software file.";
inline constexpr const char* kBoxInvalidFile =
    "Invalid software file. Please select the correct upgrade software file.";
inline constexpr const char* kBoxInvalidFileCaption = "Eroor";
inline constexpr const char* kBoxNoThread = "Not able to create Download thread. ";
inline constexpr const char* kBoxEnterLdrFile = "Please enter the LDR file.";
inline constexpr const char* kBoxNotResponding =
    "Terminal is either not responding or not connected to PC.\r\n Reconnect the terminal to PC "
    "and restart the application. ";
inline constexpr const char* kBoxNotInDownloadMode =
    "Handset is either not in software download mode or not connected to the terminal.\r\nPlease "
    "read the help to start the handset in download mode.";
inline constexpr const char* kBoxTransferFailed = "Software download failed.Try again";
inline constexpr const char* kBoxTransferFailedCaption = "Error";
inline constexpr const char* kBoxTransferDone =
    "Download completed and started burning new software into handset. \nHandset must not be "
    "disturbed during software burning process. \nThis process will take up to 40 seconds.";
inline constexpr const char* kBoxTransferDoneCaption = "Status";

// The main window's warning, shown below its heading.
inline constexpr const char* kWarningText =
    "Configuration settings may be lost during software upgrade for the Tarvenix ISDN "
    "Handset.In some rare cases the upgrade procedure might fail when upgrading from the 1.5.9 "
    "or older and your device must be returned to a service center for repair. Do not attempt "
    "this upgrade procedure unless you have the possibility to return the Tarvenix ISDN Handset "
    "or have a replacement available.";

// Browse's open-file dialog: pairs of a display text and a pattern, each ended by '|', the list
// ended by an empty pair; the .ldr pair first, so that it is the one selected.
inline constexpr const char* kBrowseFilter =
    "LDR files (*.ldr)|*.ldr|Comma Separated Values(*.csv)|*.csv||";
