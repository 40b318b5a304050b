// Dialogs of the picture's display: "DECAYTIME", the persistence time in
// seconds (0 switches persistence off). What follows a change (clearing the
// picture when persistence ends) is the opening command's business.
#include "ui/display_dialogs.h"
#include "ui/modal.h"

#include <cstdio>

#include "platform/dialog.h"
#include "settings/settings.h"

static int g_decayOld = 0;

static void ShowDecay(plat::Dialog& d, int seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%6d", seconds);
  plat::SetText(d, kIdDecayTime, text);
}

static int DecayHandler(plat::Dialog& d, int event, int id, int delta) {
  switch (event) {
    case plat::kDlgInit:
      plat::AddControl(d, kIdDecayTime, plat::kEdit, "Persistence:");
      plat::AddControl(d, kIdDecaySpin, plat::kSpin, "")->buddy = kIdDecayTime;
      plat::AddControl(d, kIdDecayDefault, plat::kButton, "Default");
      plat::AddControl(d, plat::kIdOk, plat::kButton, "OK");
      plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
      ShowDecay(d, g_decayOld);
      return 1;
    case plat::kDlgSpin: {
      if (id != kIdDecaySpin) return 0;
      int v = g_decayOld;
      if (!plat::GetInt(d, kIdDecayTime, &v)) v = g_decayOld;
      v += delta > 0 ? 1 : -1;
      if (v > 600) v = 600;
      if (v < 0) v = 0;
      ShowDecay(d, v);
      return 1;
    }
    case plat::kDlgCommand:
      if (id == kIdDecayDefault) {
        ShowDecay(d, 0);
        return 1;
      }
      if (id == plat::kIdOk) {
        int v = 0;
        if (!plat::GetInt(d, kIdDecayTime, &v) || v < 0 || v > 600) {
          plat::MessageBox("Persistence", "Time is out of range!\nUse 0 to 600 seconds", plat::kIconWarning);
          ShowDecay(d, g_decayOld);
          return 1;
        }
        g_settings.Persistence = v;
        plat::EndDialog(d, 1);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      return 0;
    default: return 0;
  }
}

int RunPersistenceDialog() {
  static plat::Dialog dialog;
  dialog = plat::Dialog{};
  dialog.resource = "DECAYTIME";
  std::snprintf(dialog.title, sizeof dialog.title, "%s", "Persistence");
  g_decayOld = g_settings.Persistence;
  return RunModalDialog(dialog, DecayHandler) == 1;
}
