// Port assignment for the GPS and the sound-velocity probe. The settings keep
// a port as an index into the list of present ports, as the setup dialog
// offers them, so a file written on one machine still means "the first port"
// on another; a device path key names a port outright (a by-id link survives
// re-plugging) and wins over the index. The GPS takes its port first, the
// probe the next free entry. Owns g_comPorts.
#include "nav/com_ports.h"

#include <cstdio>
#include <cstring>

#include "platform/net.h"
#include "settings/settings.h"

ComPortState g_comPorts;

void ResetComPorts() { g_comPorts = ComPortState{}; }

namespace {

void CopyPath(char* out, const char* path) { std::snprintf(out, serial::kPathChars, "%s", path); }

}  // namespace

void AssignPorts(const serial::PortList& present) {
  Settings& s = g_settings;
  ComPortState& c = g_comPorts;
  if (&c.present != &present) c.present = present;
  c.gpsPresent = 0;
  c.svPresent = 0;
  c.gpsPath[0] = '\0';
  c.svPath[0] = '\0';
  const int listed = present.count;
  const int gpsNamed = s.ComPortGPSDevice[0] != '\0';
  const int svNamed = s.ComPortSVDevice[0] != '\0';
  if (listed == 0 && !gpsNamed && !svNamed) {
    s.ComPortSVEnable = 0;
    return;
  }
  int next = 0;  // the next free entry of the present list
  if (s.ComPortGPSEnable == 1) {
    if (gpsNamed) {
      c.gpsPresent = 1;
      CopyPath(c.gpsPath, s.ComPortGPSDevice);
    } else if (listed > 0) {
      if (s.ComPortGPS < 0 || s.ComPortGPS >= listed) s.ComPortGPS = 0;
      c.gpsPresent = 1;
      CopyPath(c.gpsPath, present.paths[s.ComPortGPS]);
      next = 1;
    }
  }
  if (s.ComPortSVEnable == 1 && (svNamed || next < listed)) {
    c.svPresent = 1;
    if (svNamed) {
      CopyPath(c.svPath, s.ComPortSVDevice);
    } else {
      if (s.ComPortSV < 0 || s.ComPortSV >= listed) s.ComPortSV = next;
      CopyPath(c.svPath, present.paths[s.ComPortSV]);
    }
  } else {
    s.ComPortSVEnable = 0;
  }
}

int EnumeratePorts() {
  // The sandbox every test and demo runs in touches no device of the
  // machine: listing opens each candidate for a line-settings query, which
  // already moves a real port's modem lines. Only devices the settings name
  // (pseudo-terminals) are used there.
  if (net::LoopbackOnly()) {
    g_comPorts.present = serial::PortList{};
    AssignPorts(g_comPorts.present);
    return 0;
  }
  serial::ListPorts(&g_comPorts.present);
  AssignPorts(g_comPorts.present);
  return g_comPorts.present.count;
}

int ComPortsConflict(int gpsPresent, const char* gpsPath, int svPresent, const char* svPath) {
  if (!gpsPresent || !svPresent || gpsPath == nullptr || svPath == nullptr) return 0;
  return std::strcmp(gpsPath, svPath) == 0;
}

serial::LineSettings GpsLineSettings() {
  const Settings& s = g_settings;
  return serial::LineSettings{s.ComPortGPS_bits_per_second, s.ComPortGPS_data_bits, s.ComPortGPS_parity,
                              s.ComPortGPS_stop_bits};
}

serial::LineSettings SvLineSettings() {
  const Settings& s = g_settings;
  return serial::LineSettings{s.ComPortSV_bits_per_second, s.ComPortSV_data_bits, s.ComPortSV_parity,
                              s.ComPortSV_stop_bits};
}
