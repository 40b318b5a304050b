// "Data Output Setup": the choice of what each processed ping publishes
// (nothing but the keep-alive, point records or beam records), the
// intensities in point records, and the .K4P / .K4B files, which the outputs
// module opens and closes. Leaving a choice closes its file at once.
#include "ui/output_dialogs.h"
#include "ui/modal.h"

#include <cstdio>

#include "platform/byte_order.h"
#include "platform/dialog.h"
#include "processing/outputs.h"
#include "settings/settings.h"

namespace {

void SetFileButtonTexts(plat::Dialog& d) {
  plat::SetText(d, kDoPointFileButton, g_outputs.pointFileOpen ? "Close .K4P File" : "Record To .K4P File...");
  plat::SetText(d, kDoBeamFileButton, g_outputs.beamFileOpen ? "Close .K4B File" : "Record To .K4B File...");
  plat::Control* p = plat::FindControl(d, kDoPointFileButton);
  if (p) std::snprintf(p->label, sizeof p->label, "%.39s", p->text);
  plat::Control* b = plat::FindControl(d, kDoBeamFileButton);
  if (b) std::snprintf(b->label, sizeof b->label, "%.39s", b->text);
}

int DataOutputHandler(plat::Dialog& d, int event, int id, int) {
  switch (event) {
    case plat::kDlgInit: {
      const int type = ClampInt(g_settings.DataOutputType, 0, 2);
      plat::SetChecked(d, kDoRadioNone, type == kOutputNone);
      plat::SetChecked(d, kDoRadioPoints, type == kOutputPoints);
      plat::SetChecked(d, kDoRadioBeams, type == kOutputBeams);
      plat::SetChecked(d, kDoIntensityCheck, g_settings.ProfilePointIntensityOutput == 1);
      SetFileButtonTexts(d);
      return 1;
    }
    case plat::kDlgCommand:
      if (id == kDoRadioNone || id == kDoRadioPoints || id == kDoRadioBeams) {
        // Leaving a choice closes its file at once, whatever the dialog ends with.
        if (id != kDoRadioPoints && g_outputs.pointFileOpen) ClosePointFile();
        if (id != kDoRadioBeams && g_outputs.beamFileOpen) CloseBeamFile();
        SetFileButtonTexts(d);
        return 1;
      }
      if (id == kDoPointFileButton) {
        if (plat::IsChecked(d, kDoRadioPoints)) {
          if (g_outputs.pointFileOpen) ClosePointFile();
          else ChoosePointFile();
          SetFileButtonTexts(d);
        }
        return 1;
      }
      if (id == kDoBeamFileButton) {
        if (plat::IsChecked(d, kDoRadioBeams)) {
          if (g_outputs.beamFileOpen) CloseBeamFile();
          else ChooseBeamFile();
          SetFileButtonTexts(d);
        }
        return 1;
      }
      if (id == plat::kIdOk) {
        int type = kOutputNone;
        if (plat::IsChecked(d, kDoRadioPoints)) type = kOutputPoints;
        if (plat::IsChecked(d, kDoRadioBeams)) type = kOutputBeams;
        g_settings.DataOutputType = type;
        g_settings.ProfilePointIntensityOutput = plat::IsChecked(d, kDoIntensityCheck) ? 1 : 0;
        plat::EndDialog(d, 1);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

int RunDataOutputDialog() {
  plat::Dialog d;
  d.resource = "DATAOUTPUTSETUP";
  std::snprintf(d.title, sizeof d.title, "Data Output Setup");
  plat::Control* c = plat::AddControl(d, kDoRadioNone, plat::kRadio, "None");
  c->buddy = 1;
  c = plat::AddControl(d, kDoRadioPoints, plat::kRadio, "K4P (Point Output)");
  c->buddy = 1;
  plat::AddControl(d, kDoPointFileButton, plat::kButton, "Record To .K4P File...");
  plat::AddControl(d, kDoIntensityCheck, plat::kCheck, "Include Intensities");
  c = plat::AddControl(d, kDoRadioBeams, plat::kRadio, "K4B (Beam Output)");
  c->buddy = 1;
  plat::AddControl(d, kDoBeamFileButton, plat::kButton, "Record To .K4B File...");
  plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
  plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
  return RunModalDialog(d, DataOutputHandler);
}
