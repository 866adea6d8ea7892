// Command and control identifiers of the main window. Plain macros, so the
// resource script can include this header too.
//
// Menu commands come from the menu and accelerators; internal commands are sent
// or posted by the program itself; the rest are the child controls' IDs, which
// double as the commands of the script panel's buttons. The script engine and
// the received-data poller post IDC_RUN, ID_RESULT_CLEAR, ID_CONVERT_BINARY and
// ID_DISCONNECT to ask the main window for an action.
#ifndef PARLEX2_COMMON_COMMAND_IDS_H
#define PARLEX2_COMMON_COMMAND_IDS_H

// Menu commands
#define ID_ABOUT 104
#define ID_RESULT_SAVE 129
#define ID_CONFIGURE_CONNECTION 32771
#define ID_RESULT_CLEAR 32773
#define ID_UPGRADE_FIRMWARE 32774
#define ID_SET_DATE_TIME 32775
#define ID_DISCONNECT 32776
#define ID_SCRIPT 32777
#define ID_CONVERT_BINARY 32778
#define ID_COMMS_LOG 32779
#define ID_RESULT_SAVE_REPORT 32784  // "Save Test Report...": the last run's record
#define ID_TIME_STAMPS 32785

// Internal commands (never on the menu)
#define ID_CONNECTION_CHANGED 122
#define ID_FOCUS_COMMAND 123
#define ID_RECALL_LINE 124
#define ID_HISTORY_PREV 126
#define ID_HISTORY_NEXT 127

// Child controls
#define IDC_RESULTS 18000
#define IDC_INFO 18001
#define IDC_COMMAND 18002
#define IDC_SEND 18003
#define IDC_SCRIPT_LIST 18005
#define IDC_RUN 18006
#define IDC_STEP 18007
#define IDC_CLOSE 18008

// Marks (the second parameter) of commands the program posts to itself.
// ID_CONFIGURE_CONNECTION: re-establish with the link's settings, no dialog.
// ID_DISCONNECT: a read failed, ask whether to reconnect.
#define MARK_RECONNECT 1
#define MARK_READ_FAILED 1
// IDC_RUN from the script engine: stop the run if it still runs. The button
// itself toggles (its notification carries no mark), so a user's Stop and the
// engine's end-of-script stop arriving together cannot restart the script.
#define MARK_STOP_IF_RUNNING 1

// The one window timer: polling and the script's tick, every millisecond.
#define ID_POLL_TIMER 1117

#endif  // PARLEX2_COMMON_COMMAND_IDS_H
