// Shared set-up of the tests that play .K41 files through playback and batch
// conversion: a File-mode console with playback, conversion, outputs and XTF
// reset, a stand-in record processor chosen by the test, and a private
// directory for the files.
#pragma once

#include <vector>

#include "console/conversion.h"
#include "console/playback.h"
#include "files/sonar_file_test_util.h"
#include "processing/xtf.h"
#include "console/ping_cycle.h"
#include "platform/recording.h"
#include "processing/outputs.h"

namespace k41test {

// `count` records of data type 0 whose element data come from seeds
// firstSeed, firstSeed + 1, ...
inline std::vector<uint8_t> MakeSeededRecords(int count, unsigned firstSeed) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    FillWriterRecord(0, firstSeed + i);
    Append(bytes, FormatToVector());
  }
  return bytes;
}

class PlayedFileTest : public ::testing::Test {
 protected:
  explicit PlayedFileTest(int (*processor)()) : processor_(processor) {}
  void SetUp() override {
    ResetAllState();
    SetRecordProcessor(processor_);
    g_settings.RunMode = 1;
  }
  void TearDown() override {
    SetRecordProcessor(nullptr);
    ResetPlayback();
    ResetConversion();
    ResetOutputs();
    ResetXtf();
  }
  // Plays until `ends` ends of file have passed.
  void PlayEnds(int ends) {
    int guard = 0;
    while (g_player.endsOfFile < ends && ++guard < 1000) PlaybackStep();
  }
  TempDir dir_;

 private:
  int (*processor_)();
};

}  // namespace k41test
