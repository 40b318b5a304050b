// Option tables of the scene tools. Each entry names an option, says
// whether it takes a value, gives its help line and stores the value into
// SceneParams or SurveyParams; ranges are checked later by ValidateScene and
// ValidateSurvey, here only the form of the value. Owns nothing.
#include "scene_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

template <typename Params>
struct Option {
  const char* name;    // without the leading "--"
  const char* value;   // value placeholder for the help, nullptr for a flag
  const char* help;
  int (*store)(Params* p, const char* value);  // 1 stored, 0 bad value
};

int StoreInt(int* field, const char* v, long lo, long hi) {
  long x;
  if (!ParseIntText(v, lo, hi, &x)) return 0;
  *field = static_cast<int>(x);
  return 1;
}
int StoreDouble(double* field, const char* v) { return ParseDoubleText(v, field); }

// "a,b" or "a,b,c" of numbers.
int ParseList(const char* v, double* out, int count) {
  char buf[128];
  if (std::strlen(v) >= sizeof buf) return 0;
  std::strcpy(buf, v);
  char* cursor = buf;
  for (int k = 0; k < count; ++k) {
    char* comma = std::strchr(cursor, ',');
    if ((comma == nullptr) != (k == count - 1)) return 0;
    if (comma) *comma = '\0';
    if (!ParseDoubleText(cursor, &out[k])) return 0;
    cursor = comma ? comma + 1 : cursor;
  }
  return 1;
}

int StoreType(SceneParams* p, const char* v) {
  static const char kLetters[4] = {'U', 'V', 'Z', 'Y'};
  if (v[0] != '\0' && v[1] == '\0') {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
    for (int t = 0; t < 4; ++t)
      if (c == kLetters[t]) {
        p->dataType = t;
        return 1;
      }
  }
  return StoreInt(&p->dataType, v, 0, 3);
}

int StoreXdcr(SceneParams* p, const char* v) {
  if (std::strcmp(v, "up") == 0 || std::strcmp(v, "1") == 0) {
    p->xdcr = 1;
    return 1;
  }
  if (std::strcmp(v, "down") == 0 || std::strcmp(v, "0") == 0) {
    p->xdcr = 0;
    return 1;
  }
  return 0;
}

int StoreTarget(SceneParams* p, const char* v) {
  double t[3];
  if (!ParseList(v, t, 3) || p->targetCount >= kMaxSceneTargets) return 0;
  p->targets[p->targetCount++] = {t[0], t[1], t[2]};
  return 1;
}

int StoreSeed(SceneParams* p, const char* v) {
  long x;
  if (!ParseIntText(v, 0, 4294967295L, &x)) return 0;
  p->seed = static_cast<uint32_t>(x);
  return 1;
}

const Option<SceneParams> kSceneOptions[] = {
    {"type", "U|V|Z|Y", "data type (or 0..3); default U", StoreType},
    {"range-step", "N", "range table step 0..16 (1.5 m .. 500 m); default 5 (30 m)",
     [](SceneParams* p, const char* v) { return StoreInt(&p->rangeStep, v, 0, 16); }},
    {"range", "M", "range in metres instead of a step: 1.5, 1..200, 250, 300, 400, 500",
     [](SceneParams* p, const char* v) { return StoreDouble(&p->rangeM, v); }},
    {"head-type", "N", "head type setting 0..13 (not 10): element spacing; default 4",
     [](SceneParams* p, const char* v) { return StoreInt(&p->headTypeSetting, v, 0, 13); }},
    {"frequency", "KHZ", "carrier frequency; default 260",
     [](SceneParams* p, const char* v) { return StoreInt(&p->frequencyKHz, v, 1, 100000); }},
    {"xdcr", "up|down", "transducer mounting; default up", StoreXdcr},
    {"sound-speed", "M/S", "speed of sound in the water; default 1500",
     [](SceneParams* p, const char* v) { return StoreDouble(&p->soundSpeed, v); }},
    {"mode", "N", "head mode code 0..5; default 0",
     [](SceneParams* p, const char* v) { return StoreInt(&p->headModeCode, v, 0, 255); }},
    {"pulse", "US", "pulse length, microseconds (10 us units); default 180",
     [](SceneParams* p, const char* v) { return StoreInt(&p->pulseUs, v, 0, 100000); }},
    {"scrambled", nullptr, "scramble the element data (types U and V)",
     [](SceneParams* p, const char*) { return (p->scrambled = 1); }},
    {"no-seabed", nullptr, "open water: no seabed echo",
     [](SceneParams* p, const char*) { return (p->seabed = 0) + 1; }},
    {"depth", "M", "seabed distance below the sonar; default 10",
     [](SceneParams* p, const char* v) { return StoreDouble(&p->depthM, v); }},
    {"slope", "DEG", "across-track seabed slope, positive deeper to starboard; default 0",
     [](SceneParams* p, const char* v) { return StoreDouble(&p->slopeDeg, v); }},
    {"seabed-strength", "COUNTS", "seabed echo amplitude, counts; default 8",
     [](SceneParams* p, const char* v) { return StoreDouble(&p->seabedStrength, v); }},
    {"angle-falloff", "X", "seabed echo falls as cos(incidence)^X; default 1",
     [](SceneParams* p, const char* v) { return StoreDouble(&p->angleFalloff, v); }},
    {"range-falloff", "DB", "echo loss from zero to full range; default 0",
     [](SceneParams* p, const char* v) { return StoreDouble(&p->rangeFalloffDb, v); }},
    {"speckle", nullptr, "seabed speckle, new each ping",
     [](SceneParams* p, const char*) { return (p->speckle = 1); }},
    {"seed", "N", "seed of speckle and noise; default 1", StoreSeed},
    {"target", "DEG,M,COUNTS", "point target: angle (+ starboard), slant range, amplitude; repeatable (16)",
     StoreTarget},
    {"noise", "COUNTS", "element noise standard deviation; default 1",
     [](SceneParams* p, const char* v) { return StoreDouble(&p->noise, v); }},
    {"no-transmit", nullptr, "the head listens only: noise, no echoes",
     [](SceneParams* p, const char*) { return (p->transmit = 0) + 1; }},
};

// "YYYY-MM-DD HH:MM:SS[.mmm]" or with a 'T' between date and time.
int StoreStart(SurveyParams* s, const char* v) {
  int y, mo, d, h, mi, se, ms = 0, used = 0;
  char sep;
  if (std::sscanf(v, "%4d-%2d-%2d%c%2d:%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &se, &used) != 7) return 0;
  if (sep != ' ' && sep != 'T') return 0;
  const char* rest = v + used;
  if (*rest == '.') {
    int more = 0;
    if (std::sscanf(rest, ".%3d%n", &ms, &more) != 1 || more != 4) return 0;
    rest += more;
  }
  if (*rest != '\0') return 0;
  s->start = {y, mo, d, h, mi, se, ms};
  return 1;
}

int StoreGps(SurveyParams* s, const char* v) {
  double t[2];
  if (!ParseList(v, t, 2)) return 0;
  s->gps = 1;
  s->startLatDeg = t[0];
  s->startLonDeg = t[1];
  return 1;
}

int StoreFrameSize(SurveyParams* s, const char* v) {
  int w, h, used = 0;
  if (std::sscanf(v, "%dx%d%n", &w, &h, &used) != 2 || v[used] != '\0') return 0;
  s->frameWidth = w;
  s->frameHeight = h;
  return 1;
}

const Option<SurveyParams> kSurveyOptions[] = {
    {"pings", "N", "number of pings; default 200",
     [](SurveyParams* s, const char* v) { return StoreInt(&s->pingCount, v, 0, 100000000); }},
    {"rate", "HZ", "ping rate for the time stamps; default 10",
     [](SurveyParams* s, const char* v) { return StoreDouble(&s->pingRateHz, v); }},
    {"start", "\"YYYY-MM-DD HH:MM:SS[.mmm]\"", "time stamp of the first ping; default 2024-06-01 12:00:00",
     StoreStart},
    {"gps", "LAT,LON", "record a GPS track from this start position (degrees, + north / east)", StoreGps},
    {"speed", "KNOTS", "speed over ground of the track; default 4",
     [](SurveyParams* s, const char* v) { return StoreDouble(&s->speedKnots, v); }},
    {"course", "DEG", "course over ground of the track; default 0",
     [](SurveyParams* s, const char* v) { return StoreDouble(&s->courseDeg, v); }},
    {"frames", "N", "embed a camera frame after every N-th record; default 0 (none)",
     [](SurveyParams* s, const char* v) { return StoreInt(&s->frameEvery, v, 0, 100000000); }},
    {"frame-size", "WxH", "frame size in pixels, width a multiple of 4; default 64x48", StoreFrameSize},
    {"gain", "DB", "start gain the records carry; default 3",
     [](SurveyParams* s, const char* v) { return StoreInt(&s->gainDb, v, 0, 255); }},
    {"display-gain", "PERCENT", "display gain the records carry, 1..100; default 50",
     [](SurveyParams* s, const char* v) { return StoreInt(&s->displayGain, v, 0, 1000); }},
};

template <typename Params, size_t N>
int ParseWith(const Option<Params> (&table)[N], int argc, char** argv, int i, Params* p, char* why,
              int whySize) {
  if (i < 0 || i >= argc || argv[i] == nullptr) return kOptionUnknown;
  const char* arg = argv[i];
  if (std::strncmp(arg, "--", 2) != 0) return kOptionUnknown;
  arg += 2;
  const char* eq = std::strchr(arg, '=');
  const size_t nameLength = eq ? static_cast<size_t>(eq - arg) : std::strlen(arg);
  for (const Option<Params>& o : table) {
    if (std::strlen(o.name) != nameLength || std::strncmp(o.name, arg, nameLength) != 0) continue;
    if (o.value == nullptr) {
      if (eq != nullptr) {
        if (why && whySize > 0) std::snprintf(why, static_cast<size_t>(whySize), "--%s takes no value", o.name);
        return kOptionBad;
      }
      o.store(p, nullptr);
      return 1;
    }
    const char* value = eq ? eq + 1 : (i + 1 < argc ? argv[i + 1] : nullptr);
    if (value == nullptr || !o.store(p, value)) {
      if (why && whySize > 0)
        std::snprintf(why, static_cast<size_t>(whySize), "--%s needs %s%s%s", o.name, o.value,
                      value ? ", not " : "", value ? value : "");
      return kOptionBad;
    }
    return eq ? 1 : 2;
  }
  return kOptionUnknown;
}

template <typename Params, size_t N>
void PrintWith(const Option<Params> (&table)[N], FILE* out) {
  for (const Option<Params>& o : table) {
    char left[64];
    std::snprintf(left, sizeof left, "--%s%s%s", o.name, o.value ? " " : "", o.value ? o.value : "");
    std::fprintf(out, "  %-36s %s\n", left, o.help);
  }
}

}  // namespace

int ParseIntText(const char* text, long lo, long hi, long* out) {
  if (text == nullptr || *text == '\0') return 0;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return 0;
  *out = v;
  return 1;
}

int ParseDoubleText(const char* text, double* out) {
  if (text == nullptr || *text == '\0') return 0;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v)) return 0;
  *out = v;
  return 1;
}

int ParseSceneOption(int argc, char** argv, int i, SceneParams* p, char* why, int whySize) {
  return ParseWith(kSceneOptions, argc, argv, i, p, why, whySize);
}

int ParseSurveyOption(int argc, char** argv, int i, SurveyParams* s, char* why, int whySize) {
  return ParseWith(kSurveyOptions, argc, argv, i, s, why, whySize);
}

void PrintSceneOptions(FILE* out) { PrintWith(kSceneOptions, out); }
void PrintSurveyOptions(FILE* out) { PrintWith(kSurveyOptions, out); }
