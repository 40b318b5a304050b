// orvale-k41gen: writes a .K41 recording of a synthetic scene. Every scene
// and survey parameter has an option (--help lists them); the file is written
// through the console's own record writer and a one-line summary is printed.
#include <cstdio>
#include <cstring>

#include "head/return_data.h"
#include "scene.h"
#include "scene_file.h"
#include "scene_frame.h"
#include "scene_options.h"

const char* ToolsVersion();

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "orvale-k41gen %s: writes a synthetic sonar recording (.K41)\n"
               "usage: orvale-k41gen -o FILE.K41 [options]\n\n"
               "  -o, --output FILE                    file to write (created or replaced)\n"
               "  -h, --help                           this text\n\nScene:\n",
               ToolsVersion());
  PrintSceneOptions(out);
  std::fprintf(out, "\nSurvey:\n");
  PrintSurveyOptions(out);
  std::fprintf(out,
               "\nAngles are across-track from the boresight, positive to starboard; a\n"
               "starboard target forms in the high beams, drawn on the left of the\n"
               "sector picture.\n");
}

}  // namespace

int main(int argc, char** argv) {
  SceneParams scene;
  SurveyParams survey;
  const char* output = nullptr;
  char why[160] = "";
  for (int i = 1; i < argc;) {
    const char* a = argv[i];
    if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
      Usage(stdout);
      return 0;
    }
    if (std::strcmp(a, "-o") == 0 || std::strcmp(a, "--output") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "orvale-k41gen: %s needs a file name\n", a);
        return 2;
      }
      output = argv[i + 1];
      i += 2;
      continue;
    }
    int used = ParseSceneOption(argc, argv, i, &scene, why, sizeof why);
    if (used == kOptionUnknown) used = ParseSurveyOption(argc, argv, i, &survey, why, sizeof why);
    if (used == kOptionBad) {
      std::fprintf(stderr, "orvale-k41gen: %s\n", why);
      return 2;
    }
    if (used == kOptionUnknown) {
      std::fprintf(stderr, "orvale-k41gen: unknown option %s (see --help)\n", a);
      return 2;
    }
    i += used;
  }
  if (output == nullptr) {
    std::fprintf(stderr, "orvale-k41gen: no output file (-o FILE.K41; see --help)\n");
    return 2;
  }
  if (!ValidateScene(scene, why, sizeof why) || !ValidateSurvey(survey, why, sizeof why)) {
    std::fprintf(stderr, "orvale-k41gen: %s\n", why);
    return 2;
  }
  const int written = WriteSceneFile(output, scene, survey);
  if (written != survey.pingCount) {
    std::fprintf(stderr, "orvale-k41gen: %s: wrote %d of %d records\n", output, written, survey.pingCount);
    return 1;
  }
  const DataTypeInfo& dt = kDataTypes[scene.dataType];
  const int frames = survey.frameEvery > 0 ? survey.pingCount / survey.frameEvery : 0;
  const long long bytes = static_cast<long long>(written) * dt.fileRecordSize +
                          static_cast<long long>(frames) * SceneFrameBytes(survey.frameWidth, survey.frameHeight);
  char seabed[48] = "no seabed";
  if (scene.seabed) std::snprintf(seabed, sizeof seabed, "seabed %g m slope %g deg", scene.depthM, scene.slopeDeg);
  std::printf("%s: %d pings type %c, range %g m, xdcr %s, %s, %d target%s, %d frame%s, %lld bytes\n", output,
              written, dt.letter, SceneRangeM(scene), scene.xdcr ? "up" : "down", seabed, scene.targetCount,
              scene.targetCount == 1 ? "" : "s", frames, frames == 1 ? "" : "s", bytes);
  return 0;
}
