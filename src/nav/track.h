// Track plotter domain: GPS fixes in UTM (WGS-84), the 40000-entry track
// ring with its jump filter, the swath coverage of each ping, the plot's
// scale, grid and recentring rules, and the coverage log "coverage.LOG".
// The picture of the plot is drawn by imaging/track_plot from the ring.
//
// Threads: fixes arrive on the GPS reader thread (or the playback), clears,
// loads and recentring come from the user-interface thread, the coverage
// log is opened and closed by the recorder, and the plot reads the ring
// under the console lock. The track lock (a plain mutex, held only for one
// fix, one log line, or one pass of the plot over the ring) orders them all;
// the GPS reader never waits for the console lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "nav/nav_state.h"

constexpr int kTrackEntries = 40000;
constexpr int kTrackEmptyZone = 31;
constexpr int kSwathExtentNone = 2000;      // port -2000, starboard 2000: no swath
constexpr double kTrackResetJumpM = 5000.0; // farther than this: a new track
constexpr double kTrackHoldJumpM = 25.0;    // farther than this: held as a glitch
constexpr int kTrackJumpLimitHead = 5;      // glitches held in a row, Head mode
constexpr int kTrackJumpLimitFile = 10;     // and in File mode
constexpr int kTrackWindowWidth = 276;
constexpr int kTrackWindowHeight = 240;
constexpr int kTrackEdgeMarginPx = 10;      // a marker this close to an edge recentres
constexpr int kTrackZoomMax = 11;
constexpr char kCoverageLogName[] = "coverage.LOG";
constexpr int32_t kTrackLoadedEntry = -1;   // headingChoice of an entry read back from a log

struct TrackPoint {
  double north;            // UTM northing of the fix, m
  double west;             // UTM easting of the fix, m, negated
  double swath[4];         // port edge north, west; starboard edge north, west
  int32_t zone;            // UTM zone of the fix; 31 when empty
  int32_t valid;           // 1 once the entry holds a fix
  int32_t swathValue;      // from the profile processing for this ping
  int32_t portExtent;      // samples across track, port negative; -2000 none
  int32_t starboardExtent; // 2000 none
  float rangeM;            // range of the ping
  float speedKnots;        // GPS speed over ground
  float courseDeg;         // GPS course over ground
  int32_t headingChoice;   // SwathCoverageHeading when stored; kTrackLoadedEntry when loaded
  int32_t lineStart;       // 1: the first fix after a break; no track line joins it to the one before
};

// Every field below the ring is written under the track lock: by the GPS
// reader thread (AddTrackFix), the playback (the same call), the
// user-interface thread (clear, load, recentre) and the recorder (log open
// and close); the plot reads them under the same lock. The atomics are the
// console's options and the current ping's values, written by the console
// thread that has them.
struct TrackState {
  TrackPoint ring[kTrackEntries];
  int position = 0;               // next entry written; wraps 39999 -> 0
  int stored = 0;                 // entries stored since the last clear, up to kTrackEntries
  double previousNorth = 0.0;     // the last stored fix (after the jump filter)
  double previousWest = 0.0;
  double originNorth = 0.0;       // the fix the plot is centred on
  double originWest = 0.0;
  int rejectedJumps = 0;          // glitches held in a row
  int lastZone = kTrackEmptyZone; // zone of the last fix
  int haveFix = 0;                // a fix was stored since the reset (the marker has a place)
  // Set by StartNewTrackLine (playback: a new file, a rewind, a jump along
  // the file), cleared by the next fix stored, which starts the new line.
  int newLinePending = 0;
  // Entries stored since the reset, loads included; the plot draws the ones
  // it has not seen. Read without the lock as a cheap "anything new?".
  std::atomic<uint64_t> written{0};
  // The current ping's values, set by the ping cycle, read by the GPS
  // reader when it stores a fix (one ping's or the next's, never torn).
  std::atomic<int> pingSwathValue{0};
  std::atomic<int> pingPortExtent{-kSwathExtentNone};
  std::atomic<int> pingStarboardExtent{kSwathExtentNone};
  std::atomic<double> pingRangeM{0.0};
  std::atomic<double> pingSampleSpacingMm{0.0};  // 1000 x range / samples per beam
  // Options set by the console when the settings change.
  std::atomic<int> fileMode{0};        // RunMode 1: the File-mode glitch limit
  std::atomic<int> withCoverage{0};    // DisplaySwathCoverage
  std::atomic<int> headingChoice{1};   // SwathCoverageHeading: 0 course, 1 true heading
  std::atomic<int> redrawAll{0};  // set when the plot must be drawn anew; the window clears it
  FILE* coverageLog = nullptr;    // open while a recording runs
  long coverageLines = 0;         // lines appended since the log was opened
};
extern TrackState g_track;

// The track lock, for readers of the ring and its bookkeeping (the plot).
// Not recursive: the functions of this module take it themselves.
void LockTrack();
void UnlockTrack();
struct TrackLock {
  TrackLock() { LockTrack(); }
  ~TrackLock() { UnlockTrack(); }
  TrackLock(const TrackLock&) = delete;
  TrackLock& operator=(const TrackLock&) = delete;
};

// Empties the ring (every entry zero, zone 31, extents -2000 / 2000) and
// keeps the origin on the previous fix.
void ClearTrack();
// ClearTrack, the filter's memory, the ping values; closes no file.
void ResetTrack();

// ---------------------------------------------------------------- geodesy
// The UTM zone, with the Norway (32V) and Svalbard (31X, 33X, 35X, 37X) exceptions.
int UtmZone(double latDeg, double lonDeg);
// Transverse Mercator on WGS-84 (a 6378137 m, e^2 0.00669438), k0 0.9996,
// false easting 500000 m, false northing 10000000 m south of the equator,
// in the given zone. Krueger's series to sixth order: far below a millimetre
// anywhere a zone (even a widened one) reaches.
void LatLonToUtmInZone(double latDeg, double lonDeg, int zone, double* northingM, double* eastingM);
void LatLonToUtm(double latDeg, double lonDeg, double* northingM, double* eastingM, int* zone);
// Degrees from the 14-character position texts; 0 when a text is not a position.
[[nodiscard]] int PositionTextsToDegrees(const char* latitude, const char* longitude, double* latDeg,
                                         double* lonDeg);

// ---------------------------------------------------------------- the ring
enum TrackFixResult { kTrackFixRejected = 0, kTrackFixStored, kTrackFixHeld, kTrackFixNewTrack };

// The console, whenever RunMode, DisplaySwathCoverage or SwathCoverageHeading change.
void SetTrackOptions(int fileMode, int withCoverage, int headingChoice);
// The GPS reader's call for every new position: the swath is placed across
// the true heading when chosen and valid, else across the course.
int AddTrackFixFromNav(const NavSnapshot& nav);
// The next fix starts a new line: the vessel did not travel from the last
// fix to it (playback opened a file, rewound or jumped), so it is taken where
// it lies, not held as a glitch, and no track line joins the two.
void StartNewTrackLine();
// Moves the plot's centre to the last fix (marker near an edge).
void RecentreTrack();
// The same for a caller that holds the track lock (the plot).
void RecentreTrackLocked();

// The ping cycle hands over the values stored with the next fix.
void SetTrackPingValues(int swathValue, int portExtent, int starboardExtent, double rangeM, double sampleSpacingMm);
// Converts, filters and stores one fix; fileMode picks the glitch limit.
// directionDeg is the course or heading the swath is drawn across;
// withCoverage computes the swath edges (and logs them when the log is open)
// for a ping that had points: extents of -2000 / 2000 mean no swath.
int AddTrackFix(const char* latitude, const char* longitude, double speedKnots, double courseDeg,
                double directionDeg, int headingChoice, int fileMode, int withCoverage);
// The entry written last (nullptr before the first). For a caller that holds
// the track lock or has no reader thread running (tests).
const TrackPoint* LastTrackPoint();

// ---------------------------------------------------------------- the plot
double TrackPlotScale(int zoom);          // pixels per metre; a zoom outside 0..11 counts as 5
int TrackGridSpacingM(double scale);      // metres between grid lines
int TrackZoomIn(int zoom);                // left click
int TrackZoomOut(int zoom);               // right click
// Window pixel of a stored position (north, negated east) at the scale,
// north up, centred on the origin (read under the track lock).
void TrackPixel(double north, double west, double scale, double* x, double* y);
// 1 when a marker at the pixel must recentre the plot.
int TrackNeedsRecentre(double x, double y);

// ---------------------------------------------------------------- coverage log
// Opens (creating) dir/coverage.LOG at its end. Returns 1, or 0 with logging off.
int OpenCoverageLog(const char* directory);
// Closes it; a log that holds nothing is deleted. Returns 1 when it was deleted.
int CloseCoverageLog(const char* directory);
// One entry's line: "%3.2f,%3.2f,%3.2f,%3.2f,%3.2f,%3.2f,%02d\r\n" (fix east,
// north, port east, north, starboard east, north, zone). Returns its length.
int FormatCoverageLine(const TrackPoint& p, char* out, int size);
// Reads a log back into the ring as entries marked kTrackLoadedEntry (the
// fix and both edges). Returns the number of lines taken; a damaged line is
// skipped. `progress` (may be null) hears the percentage read as it changes.
int LoadCoverageLog(const char* path, void (*progress)(int percent) = nullptr);
// The coverage log's path in a directory (empty or null: the working one).
std::string CoverageLogPath(const char* directory);
