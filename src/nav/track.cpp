// Track plotter domain. Each GPS fix becomes UTM metres (north, negated
// east), passes the jump filter and is stored in a 40000-entry ring with the
// current ping's swath values; when coverage is shown, the port and
// starboard swath edges are placed across the course (or heading) and, while
// a recording runs, appended to "coverage.LOG".
//
// Jump filter: a fix more than 25 m from the previous one is treated as a
// glitch and replaced by the previous fix, up to 5 times in a row live (10
// in playback, where records arrive faster than seconds); the next one is
// believed. More than 5 km means a new survey area: the track is cleared and
// the plot recentred. Playback breaks the track on purpose (a new file, a
// rewind, a jump along the file): the fix after such a break starts a new
// line, believed where it lies and not joined to the one before.
//
// Owns g_track, the track lock and the coverage log file. The lock is a
// plain mutex and every public function takes it itself, so the GPS reader,
// the recorder closing the log and the plot reading the ring never touch the
// ring or the FILE at once (a line appended to a log being closed would
// write through a freed stream).
//
//   [SECTION] UTM        zone rule and Krueger's series
//   [SECTION] Ring       clearing, the jump filter, swath edges
//   [SECTION] Plot       scale, grid, pixels, recentring
//   [SECTION] Log        coverage.LOG written, closed, loaded
#include "nav/track.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

TrackState g_track;

namespace {

std::mutex s_trackMutex;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kA = 6378137.0;
constexpr double kE2 = 0.00669438;
constexpr double kK0 = 0.9996;
constexpr double kFalseEasting = 500000.0;
constexpr double kFalseNorthingSouth = 10000000.0;
constexpr double kZoomScales[kTrackZoomMax + 1] = {0.05, 0.1, 0.2, 0.3, 0.4, 0.5, 1, 2, 3, 4, 5, 10};
constexpr int kDefaultZoom = 5;

// Krueger series coefficients for the ellipsoid, computed once.
struct Kruger {
  double e;         // first eccentricity
  double rectifying;  // A: the meridian's rectifying radius
  double alpha[7];  // alpha[1..6]
};

Kruger MakeKruger() {
  Kruger k{};
  k.e = std::sqrt(kE2);
  const double f = 1.0 - std::sqrt(1.0 - kE2);
  const double n = f / (2.0 - f);
  const double n2 = n * n, n3 = n2 * n, n4 = n3 * n, n5 = n4 * n, n6 = n5 * n;
  k.rectifying = kA / (1.0 + n) * (1.0 + n2 / 4.0 + n4 / 64.0 + n6 / 256.0);
  k.alpha[1] = n / 2 - 2.0 / 3 * n2 + 5.0 / 16 * n3 + 41.0 / 180 * n4 - 127.0 / 288 * n5 + 7891.0 / 37800 * n6;
  k.alpha[2] = 13.0 / 48 * n2 - 3.0 / 5 * n3 + 557.0 / 1440 * n4 + 281.0 / 630 * n5 - 1983433.0 / 1935360 * n6;
  k.alpha[3] = 61.0 / 240 * n3 - 103.0 / 140 * n4 + 15061.0 / 26880 * n5 + 167603.0 / 181440 * n6;
  k.alpha[4] = 49561.0 / 161280 * n4 - 179.0 / 168 * n5 + 6601661.0 / 7257600 * n6;
  k.alpha[5] = 34729.0 / 80640 * n5 - 3418889.0 / 1995840 * n6;
  k.alpha[6] = 212378941.0 / 319334400 * n6;
  return k;
}

const Kruger kKruger = MakeKruger();

void EmptyEntry(TrackPoint* p) {
  std::memset(p, 0, sizeof *p);
  p->zone = kTrackEmptyZone;
  p->portExtent = -kSwathExtentNone;
  p->starboardExtent = kSwathExtentNone;
}

}  // namespace

// ============================================================ [SECTION] UTM

int UtmZone(double lat, double lon) {
  int zone = static_cast<int>(std::floor((lon + 180.0) / 6.0)) + 1;
  if (zone > 60) zone = 60;
  if (zone < 1) zone = 1;
  if (lat >= 56.0 && lat < 64.0 && lon >= 3.0 && lon < 12.0) zone = 32;
  if (lat >= 72.0 && lat <= 84.0 && lon >= 0.0 && lon < 42.0) {
    if (lon < 9.0) {
      zone = 31;
    } else if (lon < 21.0) {
      zone = 33;
    } else if (lon < 33.0) {
      zone = 35;
    } else {
      zone = 37;
    }
  }
  return zone;
}

void LatLonToUtmInZone(double latDeg, double lonDeg, int zone, double* northing, double* easting) {
  const Kruger& k = kKruger;
  const double centralDeg = (zone - 1) * 6.0 - 180.0 + 3.0;
  double dLon = lonDeg - centralDeg;
  if (dLon > 180.0) dLon -= 360.0;
  if (dLon < -180.0) dLon += 360.0;
  const double phi = latDeg * kDegToRad;
  const double lambda = dLon * kDegToRad;
  const double s = std::sin(phi);
  // Conformal latitude through its tangent.
  const double t = std::sinh(std::atanh(s) - k.e * std::atanh(k.e * s));
  const double xiP = std::atan2(t, std::cos(lambda));
  const double etaP = std::atanh(std::sin(lambda) / std::sqrt(1.0 + t * t));
  double xi = xiP, eta = etaP;
  for (int j = 1; j <= 6; ++j) {
    xi += k.alpha[j] * std::sin(2.0 * j * xiP) * std::cosh(2.0 * j * etaP);
    eta += k.alpha[j] * std::cos(2.0 * j * xiP) * std::sinh(2.0 * j * etaP);
  }
  *easting = kFalseEasting + kK0 * k.rectifying * eta;
  *northing = kK0 * k.rectifying * xi + (latDeg < 0.0 ? kFalseNorthingSouth : 0.0);
}

void LatLonToUtm(double latDeg, double lonDeg, double* northing, double* easting, int* zone) {
  *zone = UtmZone(latDeg, lonDeg);
  LatLonToUtmInZone(latDeg, lonDeg, *zone, northing, easting);
}

namespace {

// Digits at text[from .. from+count) as a number; -1 when one is not a digit.
long Digits(const char* text, int from, int count) {
  long v = 0;
  for (int i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

}  // namespace

// " DD.MM.FFFFF N" and "DDD.MM.FFFFF E".
int PositionTextsToDegrees(const char* lat, const char* lon, double* latDeg, double* lonDeg) {
  const long ld = Digits(lat, 1, 2), lm = Digits(lat, 4, 2), lf = Digits(lat, 7, 5);
  const long od = Digits(lon, 0, 3), om = Digits(lon, 4, 2), of = Digits(lon, 7, 5);
  if (ld < 0 || lm < 0 || lf < 0 || od < 0 || om < 0 || of < 0) return 0;
  if ((lat[13] != 'N' && lat[13] != 'S') || (lon[13] != 'E' && lon[13] != 'W')) return 0;
  double a = ld + (lm + lf * 0.00001) / 60.0;
  double o = od + (om + of * 0.00001) / 60.0;
  if (a > 90.0 || o > 180.0) return 0;
  if (lat[13] == 'S') a = -a;
  if (lon[13] == 'W') o = -o;
  *latDeg = a;
  *lonDeg = o;
  return 1;
}

// ============================================================ [SECTION] Ring

void LockTrack() { s_trackMutex.lock(); }
void UnlockTrack() { s_trackMutex.unlock(); }

namespace {

void ClearTrackLocked() {
  // Entries past `stored` are still empty from the last clear; the first
  // clear of the program empties them all.
  static bool everCleared = false;
  const int used = everCleared ? g_track.stored : kTrackEntries;
  for (int i = 0; i < used; ++i) EmptyEntry(&g_track.ring[i]);
  everCleared = true;
  g_track.position = 0;
  g_track.stored = 0;
  g_track.originNorth = g_track.previousNorth;
  g_track.originWest = g_track.previousWest;
  g_track.redrawAll.store(1);
}

}  // namespace

void ClearTrack() {
  TrackLock lock;
  ClearTrackLocked();
}

void ResetTrack() {
  TrackLock lock;
  g_track.previousNorth = 0.0;
  g_track.previousWest = 0.0;
  g_track.rejectedJumps = 0;
  g_track.lastZone = kTrackEmptyZone;
  g_track.pingSwathValue = 0;
  g_track.pingPortExtent = -kSwathExtentNone;
  g_track.pingStarboardExtent = kSwathExtentNone;
  g_track.pingRangeM = 0.0;
  g_track.pingSampleSpacingMm = 0.0;
  g_track.fileMode = 0;
  g_track.withCoverage = 0;
  g_track.headingChoice = 1;
  g_track.haveFix = 0;
  g_track.newLinePending = 0;
  g_track.written = 0;
  ClearTrackLocked();
  g_track.redrawAll.store(0);
}

void SetTrackOptions(int fileMode, int withCoverage, int headingChoice) {
  g_track.fileMode.store(fileMode ? 1 : 0);
  g_track.withCoverage.store(withCoverage ? 1 : 0);
  g_track.headingChoice.store(headingChoice ? 1 : 0);
}

int AddTrackFixFromNav(const NavSnapshot& nav) {
  const int choice = g_track.headingChoice.load();
  const double direction = choice == 1 && nav.trueHeadingValid ? nav.trueHeadingDeg : nav.courseDeg;
  return AddTrackFix(nav.latitude, nav.longitude, nav.speedKnots, nav.courseDeg, direction, choice,
                     g_track.fileMode.load(), g_track.withCoverage.load());
}

void StartNewTrackLine() {
  TrackLock lock;
  g_track.newLinePending = 1;
}

void RecentreTrack() {
  TrackLock lock;
  RecentreTrackLocked();
}

void RecentreTrackLocked() {
  g_track.originNorth = g_track.previousNorth;
  g_track.originWest = g_track.previousWest;
  g_track.redrawAll.store(1);
}

void SetTrackPingValues(int swathValue, int portExtent, int starboardExtent, double rangeM, double sampleSpacingMm) {
  g_track.pingSwathValue = swathValue;
  g_track.pingPortExtent = portExtent;
  g_track.pingStarboardExtent = starboardExtent;
  g_track.pingRangeM = rangeM;
  g_track.pingSampleSpacingMm = sampleSpacingMm;
}

namespace {

void AppendCoverageLine(const TrackPoint& p) {
  if (g_track.coverageLog == nullptr) return;
  char line[256];
  const int n = FormatCoverageLine(p, line, sizeof line);
  if (n > 0 && std::fwrite(line, 1, static_cast<size_t>(n), g_track.coverageLog) == static_cast<size_t>(n)) {
    std::fflush(g_track.coverageLog);
    g_track.coverageLines++;
  }
}

// The swath edges lie across the direction, offset by extent x spacing x
// 0.002 m, starboard (positive extents) to the right. A ping without points
// has no swath: its "none" extents would otherwise draw and log a band
// thousands of samples wide.
int PlaceSwath(TrackPoint* p, double directionDeg) {
  if (p->portExtent <= -kSwathExtentNone && p->starboardExtent >= kSwathExtentNone) return 0;
  const double k = g_track.pingSampleSpacingMm * 0.002;
  const double th = directionDeg * kDegToRad;
  const double rightNorth = -std::sin(th), rightEast = std::cos(th);
  const double east = -p->west;
  const double port = p->portExtent * k, starboard = p->starboardExtent * k;
  p->swath[0] = p->north + port * rightNorth;
  p->swath[1] = -(east + port * rightEast);
  p->swath[2] = p->north + starboard * rightNorth;
  p->swath[3] = -(east + starboard * rightEast);
  return 1;
}

}  // namespace

int AddTrackFix(const char* latitude, const char* longitude, double speedKnots, double courseDeg,
                double directionDeg, int headingChoice, int fileMode, int withCoverage) {
  double lat, lon;
  if (!PositionTextsToDegrees(latitude, longitude, &lat, &lon)) return kTrackFixRejected;
  double north, east;
  int zone;
  LatLonToUtm(lat, lon, &north, &east, &zone);
  double west = -east;
  TrackLock lock;
  TrackState& t = g_track;
  int result = kTrackFixStored;
  const double dn = std::fabs(north - t.previousNorth), dw = std::fabs(west - t.previousWest);
  if (dn > kTrackResetJumpM || dw > kTrackResetJumpM) {
    t.previousNorth = north;
    t.previousWest = west;
    ClearTrackLocked();
    t.rejectedJumps = 0;
    result = kTrackFixNewTrack;
  } else if (t.newLinePending) {
    // A break in the track, not a glitch: the fix is believed at once.
    t.rejectedJumps = 0;
  } else if (dn > kTrackHoldJumpM || dw > kTrackHoldJumpM) {
    const int limit = fileMode ? kTrackJumpLimitFile : kTrackJumpLimitHead;
    if (++t.rejectedJumps <= limit) {
      north = t.previousNorth;
      west = t.previousWest;
      result = kTrackFixHeld;
    } else {
      t.rejectedJumps = 0;
    }
  } else {
    t.rejectedJumps = 0;
  }
  TrackPoint& p = t.ring[t.position];
  EmptyEntry(&p);
  p.north = north;
  p.west = west;
  p.zone = zone;
  p.valid = 1;
  p.swathValue = t.pingSwathValue;
  p.portExtent = t.pingPortExtent;
  p.starboardExtent = t.pingStarboardExtent;
  p.rangeM = static_cast<float>(t.pingRangeM);
  p.speedKnots = static_cast<float>(speedKnots);
  p.courseDeg = static_cast<float>(courseDeg);
  p.headingChoice = headingChoice;
  p.lineStart = t.newLinePending;
  t.newLinePending = 0;
  if (withCoverage && PlaceSwath(&p, directionDeg)) AppendCoverageLine(p);
  t.position = t.position + 1 >= kTrackEntries ? 0 : t.position + 1;
  if (t.stored < kTrackEntries) t.stored++;
  t.previousNorth = north;
  t.previousWest = west;
  t.lastZone = zone;
  t.haveFix = 1;
  t.written.fetch_add(1);
  return result;
}

const TrackPoint* LastTrackPoint() {
  if (g_track.stored == 0) return nullptr;
  const int last = g_track.position == 0 ? kTrackEntries - 1 : g_track.position - 1;
  return &g_track.ring[last];
}


// ============================================================ [SECTION] Plot

double TrackPlotScale(int zoom) {
  if (zoom < 0 || zoom > kTrackZoomMax) zoom = kDefaultZoom;
  return kZoomScales[zoom];
}

int TrackGridSpacingM(double s) {
  if (s >= 4.0) return 10;
  if (s >= 1.5) return 20;
  if (s >= 1.0) return 50;
  if (s >= 0.5) return 100;
  if (s >= 0.1) return 200;
  return 500;
}

int TrackZoomIn(int zoom) { return zoom + 1 > kTrackZoomMax ? kTrackZoomMax : zoom + 1; }
int TrackZoomOut(int zoom) { return zoom - 1 < 0 ? 0 : zoom - 1; }

void TrackPixel(double north, double west, double scale, double* x, double* y) {
  // East grows to the right, north upwards; west is negated east.
  *x = kTrackWindowWidth / 2.0 - scale * (west - g_track.originWest);
  *y = kTrackWindowHeight / 2.0 - scale * (north - g_track.originNorth);
}

int TrackNeedsRecentre(double x, double y) {
  return x < kTrackEdgeMarginPx || y < kTrackEdgeMarginPx || x > kTrackWindowWidth - 1 - kTrackEdgeMarginPx ||
         y > kTrackWindowHeight - 1 - kTrackEdgeMarginPx;
}

// ============================================================ [SECTION] Log

std::string CoverageLogPath(const char* directory) {
  std::string p = directory && directory[0] ? directory : ".";
  if (p.back() != '/') p += '/';
  return p + kCoverageLogName;
}

int OpenCoverageLog(const char* directory) {
  TrackLock lock;
  if (g_track.coverageLog) return 1;
  const std::string path = CoverageLogPath(directory);
  FILE* f = std::fopen(path.c_str(), "a+b");
  if (f == nullptr) return 0;
  std::fseek(f, 0, SEEK_END);
  g_track.coverageLog = f;
  g_track.coverageLines = 0;
  return 1;
}

int CloseCoverageLog(const char* directory) {
  TrackLock lock;
  FILE* f = g_track.coverageLog;
  if (f == nullptr) return 0;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  g_track.coverageLog = nullptr;
  if (size == 0) return std::remove(CoverageLogPath(directory).c_str()) == 0;
  return 0;
}

int FormatCoverageLine(const TrackPoint& p, char* out, int size) {
  const int n = std::snprintf(out, static_cast<size_t>(size), "%3.2f,%3.2f,%3.2f,%3.2f,%3.2f,%3.2f,%02d\r\n", -p.west,
                              p.north, -p.swath[1], p.swath[0], -p.swath[3], p.swath[2], p.zone);
  return n > 0 && n < size ? n : 0;
}

int LoadCoverageLog(const char* path, void (*progress)(int percent)) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return 0;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  char line[256];
  int taken = 0;
  int shown = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (progress && size > 0) {
      const int percent = static_cast<int>(100.0 * static_cast<double>(std::ftell(f)) / static_cast<double>(size));
      if (percent != shown) progress(shown = percent);
    }
    double v[6];
    int zone;
    char tail;
    const int n = std::sscanf(line, "%lf,%lf,%lf,%lf,%lf,%lf,%d%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &zone,
                              &tail);
    if (n < 7 || zone < 1 || zone > 60) continue;
    int finite = 1;
    for (double x : v) finite &= std::isfinite(x);
    if (!finite) continue;
    TrackLock lock;
    TrackPoint& p = g_track.ring[g_track.position];
    EmptyEntry(&p);
    p.north = v[1];
    p.west = -v[0];
    p.swath[0] = v[3];
    p.swath[1] = -v[2];
    p.swath[2] = v[5];
    p.swath[3] = -v[4];
    p.zone = zone;
    p.valid = 1;
    p.headingChoice = kTrackLoadedEntry;
    g_track.position = g_track.position + 1 >= kTrackEntries ? 0 : g_track.position + 1;
    if (g_track.stored < kTrackEntries) g_track.stored++;
    g_track.written.fetch_add(1);
    ++taken;
  }
  std::fclose(f);
  if (taken) g_track.redrawAll.store(1);
  return taken;
}
