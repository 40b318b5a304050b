// The operator's side of recording: the "MAXIMUMFILESIZE" dialog and the
// start, stop and new-file actions of the menu and the keys, which ask for
// a name with the console lock given up while the save dialog waits.
#pragma once

// Control identifiers of "MAXIMUMFILESIZE".
enum MaximumFileSizeControl { kMfsValue = 1101, kMfsSpin = 1102, kMfsDefault = 1103 };
constexpr int kMaximumFilesizeMin = 100;
constexpr int kMaximumFilesizeMax = 1000;
constexpr int kMaximumFilesizeDefault = 500;
constexpr int kMaximumFilesizeStep = 100;

// "Maximum Filesize": Ok stores MaximumFilesize. Returns 1 on Ok.
int RunMaximumFileSizeDialog();

// Head mode only. Start: automatic name or the save dialog. Returns 1 when a
// file is open.
int OperatorStartRecording();
// Stops a running recording; returns 1 when one was stopped.
int OperatorStopRecording();
// Ctrl+N: stops the current recording if any, then starts a new one.
int OperatorNewRecording();
