// The "IP Address" dialog. Its handler only fills and reads the two fields;
// what a change means for the running link (the thread restarted for a new
// head address, the socket made anew for a new output address) is the
// acquisition module's ApplyIpAddresses.
#include "ui/ip_address_dialog.h"

#include <cstdio>

#include "console/acquisition.h"
#include "platform/dialog.h"
#include "settings/settings.h"
#include "ui/modal.h"

namespace {

constexpr int kAddressChars = 16;  // the fields take 15 characters and the terminator
constexpr const char* kDefaultSonar = "192.168.0.2";
constexpr const char* kDefaultOutput = "192.168.0.100";

// The field's text cut to what the field holds.
void FieldText(plat::Dialog& d, int id, char (&out)[kAddressChars]) {
  std::snprintf(out, sizeof out, "%s", plat::GetText(d, id));
}

int AddressHandler(plat::Dialog& d, int event, int id, int) {
  switch (event) {
    case plat::kDlgInit:
      plat::AddControl(d, kIdSonarAddress, plat::kEdit, "Sonar IP Address:");
      plat::AddControl(d, kIdOutputAddress, plat::kEdit, "Output IP Address:");
      plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
      plat::AddControl(d, kIdAddressDefault, plat::kButton, "Default");
      plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
      plat::SetText(d, kIdSonarAddress, g_settings.IPAddress_Sonar1);
      plat::SetText(d, kIdOutputAddress, g_settings.IPAddress_Output1);
      return 1;
    case plat::kDlgCommand:
      if (id == kIdAddressDefault) {
        plat::SetText(d, kIdSonarAddress, kDefaultSonar);
        plat::SetText(d, kIdOutputAddress, kDefaultOutput);
        return 1;
      }
      if (id == plat::kIdOk) {
        char sonar[kAddressChars], output[kAddressChars];
        FieldText(d, kIdSonarAddress, sonar);
        FieldText(d, kIdOutputAddress, output);
        ApplyIpAddresses(sonar, output);
        if (g_settings.DiagnosticsWindow == 1) plat::InvalidateWindow(plat::kWinDiagnostics);
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

}  // namespace

int RunIpAddressDialog() {
  static plat::Dialog dialog;
  dialog = plat::Dialog{};
  dialog.resource = "IPADDRESSENTRY";
  std::snprintf(dialog.title, sizeof dialog.title, "%s", "IP Address");
  return RunModalDialog(dialog, AddressHandler) == 1;
}
