// GPS input. Bytes arrive on the GPS reader thread (serial::Reader) and go
// through a five-state machine: '$', address up to ',' or '*', data up to '*'
// or carriage return, then two upper-case hex digits that must equal the XOR
// of everything between '$' and '*'. A sentence ended by carriage return
// without '*' is taken without checksum. Accepted sentences are rebuilt as
// text and decoded by the table below; the sentence type is the third to
// fifth address characters, so any talker (GP, GN, IN, EC ...) counts.
//
// Decoded values reach the navigation state through its writer lock and are
// published whole (nav_state.h), so the recorder never sees half a fix. The
// position texts are rebuilt in place: a degree digit that a short integer
// part does not reach keeps its previous value.
//
// Owns g_gpsParser, g_gpsCounters and the reader.
#include "nav/gps.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nav/com_ports.h"
#include "nav/track.h"
#include "settings/settings.h"

GpsCounters g_gpsCounters;
GpsParser g_gpsParser;

namespace {

serial::Reader g_gpsReader;
std::atomic<FixObserver> g_fixObserver{nullptr};
std::atomic<void*> g_fixContext{nullptr};

// ============================================================ fields

// The fields of the data part, split at ',' (the last one ends at '*' or
// carriage return). Field 0 is the first data field.
constexpr int kMaxFields = 24;
struct Fields {
  const char* start[kMaxFields];
  int length[kMaxFields];
  int count = 0;
};

void SplitFields(const char* data, int length, Fields* f) {
  f->count = 0;
  int at = 0;
  while (f->count < kMaxFields) {
    int end = at;
    while (end < length && data[end] != ',' && data[end] != '*' && data[end] != '\r' && data[end] != '\n') ++end;
    f->start[f->count] = data + at;
    f->length[f->count] = end - at;
    f->count++;
    if (end >= length || data[end] != ',') break;
    at = end + 1;
  }
}

char FieldChar(const Fields& f, int i) { return i < f.count && f.length[i] > 0 ? f.start[i][0] : '\0'; }

// Digits and '.' from the start of the field, read as a number; 0 when the
// field is empty or begins with anything else.
int FieldNumber(const Fields& f, int i, double* value) {
  if (i >= f.count) return 0;
  char buf[24];
  int n = 0;
  for (int k = 0; k < f.length[i] && n < 20; ++k) {
    const char c = f.start[i][k];
    if ((c < '0' || c > '9') && c != '.') break;
    buf[n++] = c;
  }
  if (n == 0) return 0;
  buf[n] = '\0';
  char* end = nullptr;
  *value = std::strtod(buf, &end);
  return end != buf;
}

// ddmm.mmmm or dddmm.mmmm: the digits before the '.', at most intChars
// characters, and the digits after it, at most fracChars.
struct Coordinate {
  char integer[8];
  int integerDigits = 0;
  char fraction[12];
  int fractionDigits = 0;
  char letter = '\0';
};

void ReadCoordinate(const Fields& f, int field, int intChars, int fracChars, Coordinate* c) {
  c->integerDigits = 0;
  c->fractionDigits = 0;
  c->letter = FieldChar(f, field + 1);
  if (field >= f.count) return;
  const char* p = f.start[field];
  const int len = f.length[field];
  int k = 0;
  for (; k < len && k < intChars && p[k] != '.'; ++k)
    if (p[k] >= '0' && p[k] <= '9') c->integer[c->integerDigits++] = p[k];
  while (k < len && p[k] != '.') ++k;
  if (k < len) ++k;  // the point
  for (int j = 0; k < len && j < fracChars; ++k, ++j)
    if (p[k] >= '0' && p[k] <= '9') c->fraction[c->fractionDigits++] = p[k];
}

// Integer digits fill the degree and minute slots from the right; slots the
// digits do not reach keep what they held.
void PlaceDigits(const Coordinate& c, char* text, const int* slots, int slotCount) {
  int d = c.integerDigits - 1;
  for (int s = slotCount - 1; s >= 0 && d >= 0; --s, --d) text[slots[s]] = c.integer[d];
}

void PlaceFraction(const Coordinate& c, char* text) {
  for (int i = 0; i < 5; ++i) text[i] = i < c.fractionDigits ? c.fraction[i] : '0';
}

// Latitude " DD.MM.FFFFF N", longitude "DDD.MM.FFFFF E" (14 characters each).
void BuildPositionTexts(const Coordinate& lat, const Coordinate& lon, NavSnapshot* n) {
  static const int kLatSlots[] = {1, 2, 4, 5};
  static const int kLonSlots[] = {0, 1, 2, 4, 5};
  char* a = n->latitude;
  a[0] = ' ';
  PlaceDigits(lat, a, kLatSlots, 4);
  a[3] = '.';
  a[6] = '.';
  PlaceFraction(lat, a + 7);
  a[12] = ' ';
  a[13] = lat.letter;
  char* o = n->longitude;
  PlaceDigits(lon, o, kLonSlots, 5);
  o[3] = '.';
  o[6] = '.';
  PlaceFraction(lon, o + 7);
  o[12] = ' ';
  o[13] = lon.letter;
}

// ============================================================ decoders

// What one sentence contributes; applied under the writer lock.
struct Decoded {
  int hasPosition = 0;
  Coordinate lat, lon;
  int hasSpeed = 0, hasCourse = 0, hasHeading = 0, speedReadout = 0, vtgComplete = 0;
  double speedKnots = 0, courseDeg = 0, headingDeg = 0;
};

void DecodePosition(const Fields& f, int latField, Decoded* d) {
  d->hasPosition = 1;
  ReadCoordinate(f, latField, 5, 10, &d->lat);
  ReadCoordinate(f, latField + 2, 6, 11, &d->lon);
}

// GLL: 0 latitude, 1 N/S, 2 longitude, 3 E/W, 4 time, 5 status.
void DecodeGll(const Fields& f, Decoded* d) { DecodePosition(f, 0, d); }

// GGA: 0 time, 1 latitude, 2 N/S, 3 longitude, 4 E/W, 5 quality, ... (rest unused).
void DecodeGga(const Fields& f, Decoded* d) { DecodePosition(f, 1, d); }

// RMC: 0 time, 1 status (not checked: a 'V' fix still positions), 2 latitude,
// 3 N/S, 4 longitude, 5 E/W, 6 speed over ground kn, 7 course over ground.
void DecodeRmc(const Fields& f, Decoded* d) {
  DecodePosition(f, 2, d);
  d->hasSpeed = FieldNumber(f, 6, &d->speedKnots);
  d->hasCourse = FieldNumber(f, 7, &d->courseDeg);
  d->speedReadout = 1;
}

// VTG: 0 course true, 1 'T', 2 course magnetic, 3 'M', 4 speed kn, 5 'N',
// 6 speed km/h, 7 'K'. Each value only with its unit letter.
void DecodeVtg(const Fields& f, Decoded* d) {
  double v;
  if (FieldChar(f, 1) == 'T' && FieldNumber(f, 0, &v)) {
    d->hasCourse = 1;
    d->courseDeg = v;
  }
  if (FieldChar(f, 5) == 'N' && FieldNumber(f, 4, &v)) {
    d->hasSpeed = 1;
    d->speedKnots = v;
  }
  d->vtgComplete = d->hasCourse && d->hasSpeed;
  d->speedReadout = d->hasSpeed;
}

// HDT: 0 heading degrees true, 1 'T'.
void DecodeHdt(const Fields& f, Decoded* d) {
  double h;
  if (FieldNumber(f, 0, &h) && h >= 0.0 && h < 360.0) {
    d->hasHeading = 1;
    d->headingDeg = h;
  }
}

int UsesGll(int type) { return type == 0; }
int UsesGga(int type) { return type == 1; }
int UsesRmc(int type) { return type == 2; }
int UsesVtg(int type) { return type == 0 || type == 1; }
int Always(int) { return 1; }

struct SentenceDecoder {
  char type[4];
  int (*wanted)(int headingType);
  void (*decode)(const Fields& f, Decoded* d);
};

const SentenceDecoder kDecoders[] = {
    {"GLL", UsesGll, DecodeGll}, {"GGA", UsesGga, DecodeGga}, {"RMC", UsesRmc, DecodeRmc},
    {"VTG", UsesVtg, DecodeVtg}, {"HDT", Always, DecodeHdt},
};

int LetterOk(char c, char a, char b) { return c == a || c == b; }

void Apply(const Decoded& d) {
  int fixBuilt = 0;
  NavSnapshot* n = BeginNavWrite();
  if (d.hasPosition) {
    n->positionParsed = 1;
    if (LetterOk(d.lat.letter, 'N', 'S') && LetterOk(d.lon.letter, 'E', 'W')) {
      // Only a sentence that carries a position keeps the fix young; a
      // receiver without a fix still sends empty ones.
      n->fixAge = 0;
      n->latHemisphere = d.lat.letter;
      n->lonHemisphere = d.lon.letter;
      BuildPositionTexts(d.lat, d.lon, n);
      n->positionShown = 1;
      fixBuilt = 1;
    }
  }
  if (d.hasSpeed) n->speedKnots = d.speedKnots;
  if (d.hasCourse) n->courseDeg = d.courseDeg;
  if (d.vtgComplete) n->positionParsed = 1;
  if (d.speedReadout && (d.hasSpeed || fixBuilt)) n->speedShown = 1;
  if (d.hasHeading) {
    n->trueHeadingDeg = d.headingDeg;
    n->trueHeadingValid = 1;
  }
  NavSnapshot published;
  if (fixBuilt) published = *n;
  EndNavWrite();
  if (!fixBuilt) return;
  g_gpsCounters.fixes.fetch_add(1, std::memory_order_relaxed);
  AddTrackFixFromNav(published);
  const FixObserver observer = g_fixObserver.load();
  if (observer) observer(published, g_fixContext.load());
}

// ============================================================ sentence machine

int HexDigit(uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  return -1;  // lower case and anything else never match
}

void Accept(int withChecksum) {
  GpsParser& p = g_gpsParser;
  p.address[p.addressLength] = '\0';
  p.data[p.dataLength] = '\0';
  g_gpsCounters.accepted.fetch_add(1, std::memory_order_relaxed);
  if (NavHold()) {
    g_gpsCounters.heldBack.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const int n = withChecksum
                    ? std::snprintf(p.sentence, sizeof p.sentence, "$%s,%s*%02X\r\n", p.address, p.data, p.checksum)
                    : std::snprintf(p.sentence, sizeof p.sentence, "$%s,%s\r\n", p.address, p.data);
  p.sentenceLength = n < 0 ? 0 : (n < static_cast<int>(sizeof p.sentence) ? n : static_cast<int>(sizeof p.sentence) - 1);
  DecodeSentence(p.sentence, p.sentenceLength);
}

}  // namespace

void ResetGps() {
  GpsParser& p = g_gpsParser;
  p.state = 0;
  p.addressLength = 0;
  p.dataLength = 0;
  p.checksum = 0;
  p.highNibble = 0;
  p.sentence[0] = '\0';
  p.sentenceLength = 0;
  p.headingType = 1;
  g_gpsCounters.accepted = 0;
  g_gpsCounters.checksumFailures = 0;
  g_gpsCounters.overlong = 0;
  g_gpsCounters.fixes = 0;
  g_gpsCounters.heldBack = 0;
}

void SetGpsHeadingType(int type) { g_gpsParser.headingType = type < 0 || type > 2 ? 1 : type; }

void SetGpsFixObserver(FixObserver observer, void* context) {
  g_fixContext.store(context);
  g_fixObserver.store(observer);
}

int FeedGpsByte(uint8_t b) {
  GpsParser& p = g_gpsParser;
  // '$' never occurs inside a sentence: a cut sentence must not swallow the
  // next one whole.
  if (b == '$') {
    p.state = 1;
    p.checksum = 0;
    p.addressLength = 0;
    p.dataLength = 0;
    return 0;
  }
  switch (p.state) {
    case 0:
      return 0;
    case 1:
      p.checksum ^= b;
      if (b == ',' || b == '*') {
        p.state = 2;
        return 0;
      }
      p.address[p.addressLength++] = static_cast<char>(b);
      if (p.addressLength >= kNmeaAddressMax) {
        g_gpsCounters.overlong.fetch_add(1, std::memory_order_relaxed);
        p.state = 0;
      }
      return 0;
    case 2:
      if (b == '*') {
        p.state = 3;
        return 0;
      }
      if (b == '\r') {
        p.state = 0;
        Accept(0);
        return 1;
      }
      p.checksum ^= b;
      p.data[p.dataLength++] = static_cast<char>(b);
      if (p.dataLength >= kNmeaDataMax) {
        g_gpsCounters.overlong.fetch_add(1, std::memory_order_relaxed);
        p.state = 0;
      }
      return 0;
    case 3:
      p.highNibble = HexDigit(b);
      p.state = 4;
      return 0;
    default: {
      p.state = 0;
      const int low = HexDigit(b);
      if (p.highNibble < 0 || low < 0 || p.highNibble * 16 + low != p.checksum) {
        g_gpsCounters.checksumFailures.fetch_add(1, std::memory_order_relaxed);
        return 0;
      }
      Accept(1);
      return 1;
    }
  }
}

void FeedGpsBytes(const uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) FeedGpsByte(bytes[i]);
}

int DecodeSentence(const char* text, int length) {
  // "$" + address + "," + data: the type is address characters 3 to 5.
  if (length < 7 || text[0] != '$') return 0;
  int comma = 1;
  while (comma < length && text[comma] != ',' && comma <= kNmeaAddressMax) ++comma;
  if (comma >= length || text[comma] != ',' || comma - 1 < 5) return 0;
  const char* type = text + 3;
  const int headingType = g_gpsParser.headingType.load(std::memory_order_relaxed);
  for (const SentenceDecoder& d : kDecoders) {
    if (std::memcmp(type, d.type, 3) != 0 || !d.wanted(headingType)) continue;
    Fields f;
    SplitFields(text + comma + 1, length - comma - 1, &f);
    Decoded out;
    d.decode(f, &out);
    Apply(out);
    return 1;
  }
  return 0;
}

namespace {
void OnGpsBytes(const uint8_t* bytes, int count, void*) { FeedGpsBytes(bytes, count); }
}  // namespace

int OpenGps(const char* path, const serial::LineSettings& settings, int headingType) {
  CloseGps();
  g_gpsParser.state = 0;
  SetGpsHeadingType(headingType);
  return serial::StartReader(&g_gpsReader, path, settings, OnGpsBytes, nullptr);
}

int OpenGpsPort() {
  if (g_settings.ComPortGPSEnable != 1 || !g_comPorts.gpsPresent) return 0;
  return OpenGps(g_comPorts.gpsPath, GpsLineSettings(), g_settings.GPSHeadingType);
}

void CloseGps() { serial::StopReader(&g_gpsReader); }

int GpsRunning() { return g_gpsReader.running.load(); }

long GpsBytesRead() { return g_gpsReader.bytesRead.load(); }
