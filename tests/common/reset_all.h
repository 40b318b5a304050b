// Every module's state back to its start, for the tests that run a whole
// chain (playback, per-ping processing, outputs, conversion) and must not
// inherit anything from the test before.
#pragma once

#include "app/command_line.h"
#include "files/conversion.h"
#include "files/playback.h"
#include "files/sonar_file.h"
#include "files/xtf.h"
#include "head/per_ping.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/com_ports.h"
#include "nav/gps.h"
#include "nav/nav_state.h"
#include "nav/sound_velocity.h"
#include "nav/track.h"
#include "platform/net.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "settings/settings.h"

namespace testutil {

inline void ResetAllModules() {
  plat::rec::Reset();
  ResetSettings();
  ResetSwitchState();
  ResetReturnData();
  ResetNavState();
  ResetGps();
  ResetSoundVelocity();
  ResetComPorts();
  ResetTrack();
  ResetTimeStamps();
  ResetPlaybackCopies();
  ResetBeamform();
  ResetProfileDetect();
  ResetProfileFilter();
  ResetOutputs();
  ResetXtf();
  ResetPlayback();
  ResetConversion();
  ResetPerPing();
  ResetCommandLine();
  net::ResetNet();
}

}  // namespace testutil
