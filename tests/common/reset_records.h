// The state the .K41 record writer and reader touch, back to its start: the
// settings, switch state, ping record buffers, navigation, time stamps, the
// playback copies and the record writer. Light enough for the fuzz targets,
// which link only these modules.
#pragma once

#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "settings/settings.h"

namespace testutil {

inline void ResetRecordModules() {
  g_settings = Settings{};
  ResetSwitchState();
  ResetReturnData();
  ResetNavState();
  ResetTimeStamps();
  ResetPlaybackCopies();
  g_recordWriter = RecordWriterState{};
}

}  // namespace testutil
