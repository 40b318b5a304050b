// Dialogs of the navigation sensors: "COMPORTSETUP" (which serial device and
// line settings the GPS and the sound-velocity probe use) and
// "SOUNDVELOCITY" (the operator's speed of sound). The port assignment,
// the readers and the unit conversions belong to nav/; these build the
// dialogs and carry out what their buttons mean.
#pragma once

#include "platform/dialog.h"

// "COMPORTSETUP": on "Ok" the readers are closed, the choices stored, and
// each device that has a port is opened again after 250 ms. Returns 1 on
// "Ok", 0 on "Cancel".
int RunComPortSetupDialog();

// "SOUNDVELOCITY" alone: 1 on "Ok" with SoundVelocityMeters stored.
int RunSoundVelocityDialog();
// Command 820: the dialog, then whatever it closed with: the probe stops
// supplying the value, a played file's value counts as overridden when it
// changed, and the tables are rebuilt for the current frequency.
void RunSoundVelocityCommand();

// The parts, for tests that look into the dialogs: the record set up, the
// handlers, and what "Ok" of the port setup does after the dialog closed.
void PrepareComPortSetupDialog(plat::Dialog& dialog);
int ComPortSetupHandler(plat::Dialog& dialog, int event, int id, int delta);
void ApplyComPortSetup();
void PrepareSoundVelocityDialog(plat::Dialog& dialog);
int SoundVelocityHandler(plat::Dialog& dialog, int event, int id, int delta);

// Control identifiers.
enum {
  kIdGpsEnable = 1401,
  kIdGpsPort,
  kIdGpsBitRate,
  kIdGpsDataBits,
  kIdGpsParity,
  kIdGpsStopBits,
  kIdGpsGll,
  kIdGpsGga,
  kIdGpsRmc,
  kIdSvEnable,
  kIdSvPort,
  kIdSvBitRate,
  kIdSvDataBits,
  kIdSvParity,
  kIdSvStopBits,
  kIdSvDigibar,
  kIdSvSbe37,
  kIdComDefaults,
  kIdGpsCaption,
  kIdSvCaption,
  kIdGpsNmeaCaption,
  kIdSvTypeCaption,
};
enum {
  kIdSpeedOfSoundNow = 1451,
  kIdSpeedOfSound,
  kIdSpeedOfSoundSpin,
  kIdSpeedOfSoundUnit,
  kIdSpeedOfSoundDefault,
};
