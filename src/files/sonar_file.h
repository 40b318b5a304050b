// The .K41 sonar data file: the cycle time stamp, the record writer, the
// record reader with its playback copies, the record scan and the checks made
// when a file is opened.
#pragma once

#include <cstdint>
#include <cstdio>

#include "files/bmp_layout.h"
#include "platform/platform.h"
#include "settings/constants.h"

constexpr int kFileHeaderBytes = 100;    // record header before the PingRecord
constexpr int kTrailerBytes = 145;       // trailer bytes that carry values, after the PingRecord
// Largest video frame the reader takes: a 1920 x 1080 24-bit capture, a
// whole BMP file.
constexpr int kMaxVideoFrameBytes = 1920 * 1080 * 3 + kBmpHeaderBytes;
constexpr int kFastSkipBytes = 163840;   // fast playback moves this far between records

// ---------------------------------------------------------------- time stamp
struct TimeStamp {
  char date[16] = "";        // "07-DEC-2001"
  char time[12] = "";        // "12:34:56"
  char dateTime[32] = "";    // date, two spaces, time
  char hundredths[8] = "";   // ".12"
  char millis[8] = "";       // ".123"
  int hundredthsValue = 0;
  int millisValue = 0;
  int second = -1;
};

struct TimeStampState {
  TimeStamp current;         // the stamp of this acquisition cycle
  TimeStamp previous;        // the one before
  int lastSecond = -1;       // second of the last call, to see the clock tick
  int secondTicks = 0;       // counts clock seconds seen; the readout redraws on a change
};
extern TimeStampState g_timeStamps;

void ResetTimeStamps();
// Stamps the cycle from the local clock / from a given time. On a new clock
// second the GPS fix age advances (Head mode with GPS enabled).
void TakeTimeStamp();
void TakeTimeStampAt(const plat::LocalTime& t);
// Fills one stamp's texts from a time (no side effects).
void FormatTimeStamp(const plat::LocalTime& t, TimeStamp* out);

// ---------------------------------------------------------------- writer
struct RecordWriterState {
  // Written under the console lock by the ping cycle and the recording's
  // start. Frames owed by the recorded time since the last frame, in frames
  // (0 to 2); grows by rate x ping period with every record while frames
  // are taken.
  double frameCredit = 0.0;
  int frameAtNextRecord = 0;  // set by a recording's start: its first record takes a frame
};
extern RecordWriterState g_recordWriter;

// File record size of the data type whose letter is `letter`, 0 if none.
int FileRecordSizeOfLetter(int letter);
// Builds the whole record for g_fileWriterRecord from the settings, the
// switch state, the navigation state and the current stamp. frameLength 0:
// no frame follows; otherwise it is announced, flagged, at offset 33.
// Returns the record size, or 0 when `out` is too small or the writer copy
// holds no known type letter.
[[nodiscard]] int FormatRecord(uint8_t* out, int outSize, int frameLength);
// Counts one record while the capture window is open and RecordVideo is 1;
// returns 1 when a frame is due with this record: RecordVideoRate frames per
// second of recorded time on average, at most one per record, the first
// with a recording's first record (or after an unmeasured ping period).
int VideoFrameDue(int captureWindowOpen);

// ---------------------------------------------------------------- reader
// What a played record says, kept apart from the operator's settings. The
// reader also writes the values the switch settings and displays show while
// a file plays (Gain, PulseLength, range offset, FrequencyCoefficient, Xdcr,
// tilt and sound speed unless the operator changed them).
struct PlaybackCopies {
  // ---- item and record layout
  int64_t recordPos = 0;        // file offset of the latest record read
  int recordSizeCode = 0;
  int recordSize = 0;           // R
  int pingLength = 0;           // N
  int dataType = 0;             // 0..3 from the letter at offset 101
  int samplesPerElement = 500;
  // ---- time stamp
  TimeStamp stamp;
  int previousStampFlag = 0;    // offset 37 bit 5, passed on to the point output
  // ---- switch and display values
  int xdcr = 1;
  int gain = 0;
  int tiltPresent = 0;
  double tiltDeg = 0.0;
  int rangeOffset = 0;
  int frequencyCoefficient = 0;
  int pulseLengthUs = 0;
  int reserved45 = 0;
  int soundSpeedPresent = 0;
  double soundSpeed = 0.0;      // file's value, m/s
  double appliedSoundSpeed = 0.0;  // last value put into SoundVelocityMeters
  int soundSpeedApplied = 0;    // counts applications; the grid redraws on a change
  int operatorChangedTilt = 0;  // set by the tilt dialog during this playback
  int operatorChangedSoundSpeed = 0;
  // ---- navigation
  int positionPresent = 0;
  char latitude[16] = "";       // 14 characters + NUL
  char longitude[16] = "";
  char latHemisphere = 'N';
  char lonHemisphere = 'E';
  double speedKnots = 0.0;
  double previousSpeedKnots = 0.0;
  int speedRejects = 0;         // spike filter counter
  double courseDeg = 0.0;
  int positionUpdates = 0;      // counts records with a position (track plotter)
  int frequencyKHz = 260;
  double headingDeg = 0.0;
  double pitchDeg = 0.0;
  double rollDeg = 0.0;
  double rollCorrectionDeg = 0.0;  // roll clamped to +-15
  int pingPeriodMs = 0;
  int displayGain = 1;
  // ---- trailer
  float xOffsetM = 0.f;
  float yOffsetM = 0.f;
  float depthM = 0.f;
  float heaveM = 0.f;
  int hdtValid = 0;
  float hdtHeadingDeg = 0.f;
  // ---- raw bytes of the latest item, for the copy file
  uint8_t rawRecord[kRecordBufferBytes] = {};
  int frameBeforeRecord = 0;    // a frame preceded the latest record
  int frameLength = 0;
  // ---- damage seen
  int damagedItems = 0;         // records or frames refused and skipped by a scan
  int recordsRead = 0;
};
extern PlaybackCopies g_playback;
// The latest video frame read (a whole BMP file), g_playback.frameLength bytes.
extern uint8_t g_videoFrame[kMaxVideoFrameBytes];

void ResetPlaybackCopies();
// The end of the file was met: the speed filter starts over.
void ResetSpeedFilter();

constexpr int kReadEnd = 0;
constexpr int kReadRecord = 1;
// Reads the next item at the file position (a frame, then its record) into
// g_pingRecord and the playback copies. A damaged item is skipped by the record
// scan. A record without position times the GPS fix out at once (ExpireFixNow).
// Returns kReadRecord, or kReadEnd at the end of the file.
[[nodiscard]] int ReadNextRecord(FILE* file);
// From byte fromPos, finds the next whole record and positions the file there.
// Returns 1 when found, 0 at the end of the file.
int ScanForRecord(FILE* file, int64_t fromPos);

// ---------------------------------------------------------------- opening
enum OpenResult { kOpenOk = 0, kOpenBadExtension, kOpenCannotOpen, kOpenBadMagic };
// 1 when the name ends in ".K41", without regard to case.
int HasSonarExtension(const char* name);
// 1 when three bytes are one of the two magics of a sonar file.
int IsSonarMagic(const uint8_t* first3);
// Opens a sonar file for reading, checks name and magic and rewinds it.
// On kOpenOk *file is open; otherwise it is nullptr.
int OpenSonarFile(const char* path, FILE** file);
