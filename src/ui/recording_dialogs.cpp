// Recording from the menu and the keys, and the maximum file size dialog.
// The recorder (files/recording) does the work under the console lock; the
// one wait here that may last, the save dialog, runs with the lock given up,
// so the head keeps pinging and the display keeps moving while the operator
// types a name.
#include "ui/recording_dialogs.h"

#include <cstdio>

#include "console/cycle_lock.h"
#include "files/recording.h"
#include "platform/dialog.h"
#include "settings/settings.h"
#include "ui/modal.h"

namespace {

// The working value of the dialog, shown in the edit box.
int s_workingMb = kMaximumFilesizeDefault;

void ShowValue(plat::Dialog& d) { plat::SetInt(d, kMfsValue, s_workingMb); }

int MaximumFileSizeHandler(plat::Dialog& d, int event, int id, int delta) {
  switch (event) {
    case plat::kDlgInit:
      s_workingMb = g_settings.MaximumFilesize;
      ShowValue(d);
      return 1;
    case plat::kDlgSpin: {
      if (id != kMfsSpin) return 0;
      // A typed value in range is where the step starts.
      int typed = 0;
      if (plat::GetInt(d, kMfsValue, &typed) && typed >= kMaximumFilesizeMin && typed <= kMaximumFilesizeMax)
        s_workingMb = typed;
      s_workingMb += delta > 0 ? kMaximumFilesizeStep : -kMaximumFilesizeStep;
      if (s_workingMb > kMaximumFilesizeMax) s_workingMb = kMaximumFilesizeMax;
      if (s_workingMb < kMaximumFilesizeMin) s_workingMb = kMaximumFilesizeMin;
      ShowValue(d);
      return 1;
    }
    case plat::kDlgCommand:
      if (id == kMfsDefault) {
        s_workingMb = kMaximumFilesizeDefault;
        ShowValue(d);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      if (id == plat::kIdOk) {
        // What the operator typed counts: a size silently ignored would
        // split the recording somewhere else than asked.
        int typed = 0;
        if (!plat::GetInt(d, kMfsValue, &typed) || typed < kMaximumFilesizeMin || typed > kMaximumFilesizeMax) {
          plat::MessageBox("Maximum Filesize", "Maximum Filesize is out of range!\nUse 100 to 1000 MBytes.",
                           plat::kIconWarning);
          ShowValue(d);
          return 1;
        }
        g_settings.MaximumFilesize = typed;
        plat::EndDialog(d, 1);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

int RunMaximumFileSizeDialog() {
  plat::Dialog d;
  d.resource = "MAXIMUMFILESIZE";
  std::snprintf(d.title, sizeof d.title, "Maximum Filesize");
  plat::AddControl(d, kMfsValue, plat::kEdit, "");
  plat::AddControl(d, kMfsSpin, plat::kSpin, "")->buddy = kMfsValue;
  plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
  plat::AddControl(d, kMfsDefault, plat::kButton, "Default");
  plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
  return RunModalDialog(d, MaximumFileSizeHandler);
}

int OperatorStartRecording() {
  CycleLock lock;
  if (g_settings.RunMode != 0 || Recording()) return 0;
  if (g_settings.AutoFilename == 1) return StartAutomaticRecording();
  char name[kRecordingNameBytes];
  const int levels = SuspendCycleLock();
  const int chosen = AskRecordingName(name, sizeof name);
  ResumeCycleLock(levels);
  if (!chosen) return 0;
  return StartRecordingTo(name);
}

int OperatorStopRecording() {
  CycleLock lock;
  if (!Recording()) return 0;
  (void)StopRecording();
  return 1;
}

int OperatorNewRecording() {
  CycleLock lock;
  if (g_settings.RunMode != 0) return 0;
  (void)StopRecording();
  return OperatorStartRecording();
}
