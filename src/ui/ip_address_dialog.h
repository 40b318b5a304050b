// The "IP Address" dialog: the head's and the output's addresses.
#pragma once

// "IPADDRESSENTRY". "Ok" takes the changed addresses: a new sonar address
// restarts the acquisition thread in Head mode, a new output address makes
// the output socket anew. Returns 1 on "Ok", 0 on "Cancel".
int RunIpAddressDialog();
// Control identifiers of the dialog.
enum { kIdSonarAddress = 1301, kIdOutputAddress = 1302, kIdAddressDefault = 1303 };
