// The headless conversion run behind orvale-convert: the console's command-
// line conversion without windows and without pacing.
#pragma once

struct ConvertOptions {
  const char* name = nullptr;          // NAME or NAME.K41
  char outputSwitch = 0;               // 'p', 'b' or 'x'
  const char* settingsPath = "Orvale.INI";
  const char* savePicture = nullptr;   // BMP of the last ping's picture, or nullptr
  int progress = 0;                    // progress line on stderr
};

struct ConvertSummary {
  int recordsRead = 0;
  int pingsProcessed = 0;              // pings decoded and put through the whole chain
  int pingsRejected = 0;
  int depthPings = 0;                  // pings whose profile found the bottom under the sonar
  double minDepthM = 0.0;              // depth range found (metres below the sonar): per ping
                                       // the median of the points within 20 degrees of vertical
  double maxDepthM = 0.0;
  double seconds = 0.0;
  int pictureSaved = 0;
  int pointsWithoutDetection = 0;      // a .K4P was asked for with detection off: it stays empty
};

// Exit statuses of a run.
enum ConvertStatus { kConvertOk = 0, kConvertUsage = 1, kConvertBadFile = 2, kConvertFailed = 3 };

// Loads the settings, sets the run up from the command line, plays the file
// once through the whole processing chain as fast as it can, writes the
// outputs beside it and saves the settings. On failure `error` holds a
// one-line reason. Returns a ConvertStatus.
int RunConversion(const ConvertOptions& options, ConvertSummary* summary, char* error, int errorSize);
