// Which serial device the GPS and the sound-velocity probe use: the present
// ports, the assignment rule run at start-up, the "ComPort Setup" dialog's
// same-port check, and the line settings of each device.
#pragma once

#include "platform/serial.h"

constexpr char kComPortSetupCaption[] = "ComPort Setup";
constexpr char kComPortsSameText[] = "ComPorts can not be the same.";

// Written by EnumeratePorts on the user-interface thread only; the reader
// threads get their path as an argument when they start.
struct ComPortState {
  serial::PortList present;                 // listed by EnumeratePorts
  int gpsPresent = 0;                       // the GPS has a port to open
  int svPresent = 0;                        // the probe has a port to open
  char gpsPath[serial::kPathChars] = {};    // its device path when present
  char svPath[serial::kPathChars] = {};
};
extern ComPortState g_comPorts;

void ResetComPorts();

// Lists the present ports and assigns them from g_settings: ComPortGPS and
// ComPortSV index the present list (an index past its end becomes the first
// free entry); ComPortGPSDevice / ComPortSVDevice name a device that takes
// precedence and counts as present. Clears ComPortSVEnable when the probe
// gets no port. Returns the number of listed ports. Under
// ORVALE_LOOPBACK_ONLY=1 (tests, demos) no device is listed or opened: only
// the device keys count.
int EnumeratePorts();
// The same assignment over a given list (tests, and the dialog's preview).
void AssignPorts(const serial::PortList& present);

// The dialog's "Ok" check: 1 when both devices are present on one device.
int ComPortsConflict(int gpsPresent, const char* gpsPath, int svPresent, const char* svPath);

serial::LineSettings GpsLineSettings();
serial::LineSettings SvLineSettings();
