// The camera's dialogs. The rate dialog keeps its working value in tenths,
// so the spin steps land on the printed values; "Ok" reads what the edit
// shows. The format dialog lists what the camera offers and hands the
// choice to the video module, which re-sizes the capture window.
#include "ui/video_dialogs.h"

#include <cmath>
#include <cstdio>

#include "platform/dialog.h"
#include "settings/settings.h"
#include "ui/modal.h"
#include "video/capture.h"

namespace {

void ShowRate(plat::Dialog& d, double rate) {
  char text[16];
  std::snprintf(text, sizeof text, "%5.1f", rate);
  plat::SetText(d, kIdVideoRate, text);
}

int RateHandler(plat::Dialog& d, int event, int id, int delta) {
  switch (event) {
    case plat::kDlgInit:
      plat::AddControl(d, kIdVideoRate, plat::kEdit, "Rate:");
      plat::AddControl(d, kIdVideoRateSpin, plat::kSpin, "")->buddy = kIdVideoRate;
      plat::AddControl(d, kIdVideoRateUnit, plat::kStatic, "");
      plat::SetText(d, kIdVideoRateUnit, "frames/sec");
      plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
      plat::AddControl(d, kIdVideoRateDefault, plat::kButton, "Default");
      plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
      ShowRate(d, g_settings.RecordVideoRate);
      return 1;
    case plat::kDlgSpin: {
      if (id != kIdVideoRateSpin) return 0;
      double v = g_settings.RecordVideoRate;
      if (!plat::GetDouble(d, kIdVideoRate, &v)) v = g_settings.RecordVideoRate;
      const long tenths = std::lround(v * 10.0) + (delta > 0 ? 1 : -1);
      const long lo = std::lround(kVideoRateMin * 10.0), hi = std::lround(kVideoRateMax * 10.0);
      ShowRate(d, (tenths < lo ? lo : tenths > hi ? hi : tenths) / 10.0);
      return 1;
    }
    case plat::kDlgCommand:
      if (id == kIdVideoRateDefault) {
        ShowRate(d, kVideoRateDefault);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      if (id == plat::kIdOk) {
        double v = 0.0;
        if (!plat::GetDouble(d, kIdVideoRate, &v) || !(v >= kVideoRateMin && v <= kVideoRateMax)) {
          plat::MessageBox("Video Recording Rate", "Recording Rate is out of range!\nUse 0.1 to 20.0 frames/sec",
                           plat::kIconWarning);
          ShowRate(d, g_settings.RecordVideoRate);
          return 1;
        }
        g_settings.RecordVideoRate = v;
        plat::EndDialog(d, 1);
        return 1;
      }
      return 0;
    default: return 0;
  }
}

int FormatHandler(plat::Dialog& d, int event, int id, int) {
  switch (event) {
    case plat::kDlgInit: {
      plat::AddControl(d, kIdVideoFormatList, plat::kDropDown, "Format:");
      plat::CameraFormat formats[plat::kCameraMaxFormats];
      const int n = VideoFormats(formats, plat::kCameraMaxFormats);
      for (int i = 0; i < n && i < plat::kMaxItems; ++i) {
        char item[plat::kItemLen];
        std::snprintf(item, sizeof item, "%d x %d, 24-bit RGB", formats[i].width, formats[i].height);
        plat::AddItem(d, kIdVideoFormatList, item);
      }
      plat::SetSelection(d, kIdVideoFormatList, CurrentVideoFormat());
      plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
      plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
      return 1;
    }
    case plat::kDlgCommand:
      if (id == plat::kIdOk) {
        plat::EndDialog(d, 1);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      return id == kIdVideoFormatList;
    default: return 0;
  }
}

}  // namespace

int RunVideoRateDialog() {
  static plat::Dialog dialog;
  dialog = plat::Dialog{};
  dialog.resource = "VIDEORECORDRATE";
  std::snprintf(dialog.title, sizeof dialog.title, "%s", "Video Recording Rate");
  return RunModalDialog(dialog, RateHandler) == 1;
}

int RunVideoFormatDialog() {
  static plat::Dialog dialog;
  dialog = plat::Dialog{};
  dialog.resource = "VIDEOFORMAT";
  std::snprintf(dialog.title, sizeof dialog.title, "%s", "Video Format");
  if (RunModalDialog(dialog, FormatHandler) != 1) return 0;
  const int chosen = plat::GetSelection(dialog, kIdVideoFormatList);
  if (chosen < 0 || chosen == CurrentVideoFormat()) return 0;
  return SetVideoFormat(chosen);
}
