// Fuzz entry code: packet assembly and decoding, the .K41 reader and scan,
// the NMEA sentence machine and the probe framer, control datagrams, the
// settings file and the conversion command line, driven from arbitrary bytes.
// Shared by the libFuzzer targets and the replay test, so the committed
// corpora run under the ordinary test build. The file-based entries work in
// one directory per process, made at first use and removed at exit.
#include "fuzz/fuzz_entries.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "common/reset_all.h"
#include "console/command_line.h"
#include "console/conversion.h"
#include "console/external_control.h"
#include "console/ping_cycle.h"
#include "console/run_mode.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/gps.h"
#include "nav/nav_state.h"
#include "nav/sound_velocity.h"
#include "nav/track.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

namespace {

uint8_t s_beamTest[kBeamTestSlots][kBeamSampleBytes];
uint8_t s_packet[kReturnPacketBytes];
uint8_t s_fileRecord[kRecordBufferBytes];

void ResetAll() { testutil::ResetAllModules(); }

// Writes the completed ping as a record and reads it back through the reader.
int RoundTrip() {
  const int size = FormatRecord(s_fileRecord, sizeof s_fileRecord, 0);
  const int type = DataTypeOfLetter(g_fileWriterRecord[1]);
  if (type < 0) return size == 0 ? 0 : 1;
  if (size != kDataTypes[type].fileRecordSize) return 1;
  FILE* f = fmemopen(s_fileRecord, static_cast<size_t>(size), "rb");
  if (f == nullptr) return 0;
  const int read = ReadNextRecord(f);
  std::fclose(f);
  if (read != kReadRecord) return 1;
  return std::memcmp(g_pingRecord, g_fileWriterRecord, kDataTypes[type].recordLength) != 0;
}

}  // namespace

int FuzzPacketAssembly(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetAll();
  if (size < 2) return 0;
  const int cfg = data[0];
  g_settings.Xdcr = (cfg >> 2) & 1;
  g_settings.DisplayType = (cfg >> 3) & 1 ? 4 : 0;
  g_settings.HalfRange = (cfg >> 4) & 1;
  g_settings.RunMode = (cfg >> 5) & 1;
  g_settings.PulseLength = data[1] * 10;
  BeamTestRaster beamTest = (cfg >> 6) & 1 ? s_beamTest : nullptr;
  g_switch.dataType = cfg & 3;
  TakeDataTypeSetting();

  size_t pos = 2;
  double now = 1.0;
  int failure = 0;
  while (pos < size && !failure) {
    const int op = data[pos++];
    // Short receives: up to 63 * 16 = 1008 bytes.
    size_t want = (op & 0x80) ? kReturnPacketBytes : static_cast<size_t>(op & 0x3F) * 16;
    const size_t take = size - pos < want ? size - pos : want;
    std::memset(s_packet, 0, sizeof s_packet);
    std::memcpy(s_packet, data + pos, take);
    pos += take;
    if (op & 0x40) {
      // Force the framing so the fuzzer reaches assembly and decoding; the
      // index byte keeps its high bits and, for odd ops, its own index.
      s_packet[0] = 'I';
      s_packet[1] = static_cast<uint8_t>(kDataTypes[g_ping.expectedType].letter);
      s_packet[2] = 'X';
      if (!(op & 1)) s_packet[5] = static_cast<uint8_t>((s_packet[5] & 0xE0) | g_switch.packetIndex);
      s_packet[kReturnPacketBytes - 1] = kEndByte;
      want = kReturnPacketBytes;
    }
    const int length = (op & 0xC0) ? static_cast<int>(want) : static_cast<int>(take);
    const int result = AssemblePacket(s_packet, length);
    if (result & kPingComplete) {
      failure = RoundTrip();
      if (DecodePingAt(now, beamTest)) stats->pingsDecoded++;
      FinishPing();
      // A finished record must never decode a second time.
      if (DecodePingAt(now + 0.05, beamTest)) failure = 1;
      now += 0.1 + (op & 0x0F) * 0.01;
    }
    if ((op & 0x3F) == 0x3F) ClearPing();
  }
  stats->packetsAccepted += g_ping.packetsAccepted;
  stats->pingsCompleted += g_ping.pingsCompleted;

  // The input as the body of a record of the type in force, header forced valid.
  const int type = g_ping.expectedType;
  const int length = kDataTypes[type].recordLength;
  std::memset(g_pingRecord, 127, kRecordBufferBytes);
  std::memcpy(g_pingRecord, data, size < static_cast<size_t>(length) ? size : static_cast<size_t>(length));
  g_pingRecord[0] = 'I';
  g_pingRecord[1] = static_cast<uint8_t>(kDataTypes[type].letter);
  g_pingRecord[2] = 'X';
  g_pingRecord[length - 1] = kEndByte;
  g_ping.endByte = kEndByte;
  if (DecodePingAt(now)) stats->pingsDecoded++;
  FinishPing();
  return failure;
}

int FuzzK41Reader(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetAll();
  if (size == 0) return 0;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (f == nullptr) return 0;
  int failure = 0;
  double now = 1.0;
  auto readAll = [&](int limit) {
    for (int i = 0; i < limit && ReadNextRecord(f) == kReadRecord; ++i) {
      stats->recordsRead++;
      const int type = g_playback.dataType;
      if (g_playback.recordSize != kDataTypes[type].fileRecordSize ||
          g_playback.pingLength != kDataTypes[type].recordLength)
        failure = 1;
      if (g_playback.frameBeforeRecord &&
          (g_playback.frameLength < kBmpHeaderBytes || g_playback.frameLength > kMaxVideoFrameBytes))
        failure = 1;
      if (DecodePingAt(now)) stats->pingsDecoded++;
      FinishPing();
      now += 0.1;
    }
  };
  // More records than the input could hold would mean the reader loops.
  readAll(static_cast<int>(size / 8192) + 2);
  if (ReadNextRecord(f) == kReadRecord) failure = 1;
  const int64_t starts[3] = {0, static_cast<int64_t>(size / 2),
                             static_cast<int64_t>(data[0]) * static_cast<int64_t>(size) / 256};
  for (int64_t from : starts) {
    if (ScanForRecord(f, from)) {
      const int64_t at = ftello(f);
      if (at < from || at + 3 > static_cast<int64_t>(size) || data[at] != 'K') failure = 1;
      readAll(1);
    }
  }
  stats->damagedItems += g_playback.damagedItems;
  std::fclose(f);
  return failure;
}

namespace {

// A published text is either all zero (no fix yet) or keeps its fixed
// characters; the hemisphere letters are always one of the two.
int TextLayoutBroken(const char* t, const char* letters) {
  int zeros = 1;
  for (int i = 0; i < kPositionTextBytes; ++i) zeros &= t[i] == 0;
  if (zeros) return 0;
  if (t[3] != '.' || t[6] != '.' || t[12] != ' ') return 1;
  if (t[13] != letters[0] && t[13] != letters[1]) return 1;
  for (int i = 7; i < 12; ++i)
    if (t[i] < '0' || t[i] > '9') return 1;
  return 0;
}

int NavBroken() {
  NavSnapshot n;
  CopyNavSnapshot(&n);
  if (TextLayoutBroken(n.latitude, "NS") || TextLayoutBroken(n.longitude, "EW")) return 1;
  if (n.latitude[0] != 0 && n.latitude[0] != ' ') return 1;
  if (n.trueHeadingValid && !(n.trueHeadingDeg >= 0.0 && n.trueHeadingDeg < 360.0)) return 1;
  return 0;
}

}  // namespace

int FuzzNmea(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetNavState();
  ResetGps();
  ResetTrack();
  if (size < 1) return 0;
  SetGpsHeadingType(data[0] % 3);
  int failure = 0;
  for (size_t i = 1; i < size && !failure; ++i) {
    if (FeedGpsByte(data[i])) failure |= NavBroken();
    if (g_gpsParser.addressLength > kNmeaAddressMax || g_gpsParser.dataLength > kNmeaDataMax) failure = 1;
  }
  stats->sentencesAccepted += g_gpsCounters.accepted.load();
  stats->fixes += g_gpsCounters.fixes.load();
  // The input as a sentence text the decoders read, whatever its shape.
  char text[kSentenceTextChars];
  const size_t n = size - 1 < sizeof text - 1 ? size - 1 : sizeof text - 1;
  std::memcpy(text, data + 1, n);
  text[n] = 0;
  DecodeSentence(text, static_cast<int>(n));
  failure |= NavBroken();
  return failure;
}

int FuzzProbe(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetSoundVelocity();
  ResetNavState();
  if (size < 1) return 0;
  g_probe.deviceType = data[0] & 1;
  int failure = 0;
  double taken = 0.0;
  for (size_t i = 1; i < size; ++i) {
    FeedProbeByte(data[i]);
    if (TakeQueuedSoundVelocity(&taken)) {
      stats->probeValuesTaken++;
      if (!(taken >= kSoundVelocityLowest && taken <= kSoundVelocityHighest)) failure = 1;
    }
  }
  stats->probeLinesTaken += g_probe.linesTaken.load();
  const char* line = reinterpret_cast<const char*>(data + 1);
  const int length = static_cast<int>(size - 1 > 4096 ? 4096 : size - 1);
  double v = 0.0;
  if (ParseDigibarLine(line, length, &v) && !(v >= kSoundVelocityLowest && v <= kSoundVelocityHighest)) failure = 1;
  if (ParseSbe37Line(line, length, &v) && !(v >= kSoundVelocityLowest && v <= kSoundVelocityHighest)) failure = 1;
  return failure;
}

namespace {

int In(double v, double lo, double hi) { return v >= lo && v <= hi; }

// Every value a datagram can set, inside the values it may take.
int ControlledSettingsBroken() {
  const Settings& s = g_settings;
  const double tilt = s.ProfileTiltAngle;
  int ok = In(s.DisplayGain, 1, 100) && In(s.SectorSize, 0, 5) && In(s.ProcessingMode, 0, 3) &&
           In(s.StepSize, 0, 2) && In(s.Persistence, 0, 600) && In(s.SoundVelocityMeters, 1400, 2000) &&
           In(s.DisplayType, 0, 4) && In(s.DataOutputType, 0, 2) && In(s.ProfilePointDetection, 0, 1) &&
           In(s.Xdcr, 0, 1) && (In(tilt, -45, 45) || tilt == -90 || tilt == 90) && In(s.RollCorrection, 0, 1) &&
           In(s.Units, 0, 2) && In(s.ExternalTriggerXmitDelay, 0, 10000) && In(s.ProfilePointFilter, 0, 2) &&
           In(s.SonarXOffsetMeters, -100, 100) && In(s.SonarYOffsetMeters, -100, 100) &&
           In(s.SonarDepthMeters, -100, 6000) && In(s.ProfilePointIntensityOutput, 0, 1) &&
           In(s.ProfileMinDepthBelowSonar, 0, 100) && In(s.Range, g_headLimits.minStep, g_headLimits.maxStep) &&
           In(s.Gain, 0, g_headLimits.maxGain) && In(s.AvgFilterIndex, 1, 10) &&
           In(g_detect.detectionLevelPct, 10, 90) && In(g_detect.minimumRangeM, 0.1, 100) &&
           In(g_extControl.queuedSoundVelocity, g_extControl.soundVelocityQueued ? 1400 : 0, 2000);
  return !ok;
}

}  // namespace

int FuzzExternalControl(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetAll();
  SetDetectionLevel(25);
  SetMinimumRange(0);
  const int length = static_cast<int>(size > 300 ? 300 : size);
  const int fileMode = length > 0 && (data[0] & 1);
  const int outsider = length > 0 && (data[0] & 2);
  g_settings.RunMode = fileMode;
  g_settings.AvgFilterIndex = 5;
  // A recording a datagram starts must find no directory to write into.
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s",
                "/nonexistent/orvale-fuzz");
  if (outsider) std::snprintf(g_settings.ExternalControlAllow, sizeof g_settings.ExternalControlAllow, "127.0.0.1");
  const Settings before = g_settings;
  const uint32_t sender = outsider ? 0x7F000002 : 0x7F000001;
  int failure = 0;
  const int first = ApplyControlDatagram(data, length, sender, 5000);
  stats->controlFieldsApplied += first;
  if (outsider) {
    stats->controlDatagramsIgnored++;
    return first != 0 || std::memcmp(&before, &g_settings, sizeof before) != 0 ||
           g_extControl.datagramsIgnored != 1;
  }
  failure |= ControlledSettingsBroken();
  // Both outputs are asked for anew by every datagram; nothing else repeats.
  const int bothOutputs = length > 20 && (data[3] & 1) && data[20] == 3 ? 1 : 0;
  const int second = ApplyControlDatagram(data, length, sender, 5000);
  if (second != bothOutputs) failure = 1;
  failure |= ControlledSettingsBroken();
  return failure;
}

// ============================================================ files

namespace {

char s_dir[256] = "";

void RemoveFuzzDir() {
  std::error_code ec;
  std::filesystem::remove_all(s_dir, ec);
}

// The process's own directory, in memory-backed storage where there is some:
// every settings save is flushed to disk, hundreds of times a second here.
const char* FuzzDir() {
  static int tried = 0;
  if (!tried) {
    tried = 1;
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::snprintf(s_dir, sizeof s_dir, "%s/orvale-fuzz-XXXXXX", base);
    if (::mkdtemp(s_dir) == nullptr) s_dir[0] = '\0';
    else std::atexit(RemoveFuzzDir);
  }
  return s_dir[0] ? s_dir : nullptr;
}

std::string InFuzzDir(const char* name) { return std::string(FuzzDir()) + "/" + name; }

int WriteBytes(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  const int ok = (size == 0 || std::fwrite(data, 1, size, f) == size);
  return std::fclose(f) == 0 && ok;
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  std::fclose(f);
  return bytes;
}

// Every key as the settings in force write it into an empty file: the
// values at the file's own precision, nothing of the input around them.
std::string SavedKeys(const std::string& path) {
  std::remove(path.c_str());
  if (!SaveSettings(path.c_str())) return std::string();
  return ReadBytes(path);
}

// Keys are written one a line in a fixed order: the number of lines that
// differ, and the first of them as "first -> second" for the report.
long LinesDiffering(const std::string& a, const std::string& b, const char** first = nullptr) {
  static char text[200];
  long count = 0;
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const size_t ei = std::min(a.find('\n', i), a.size());
    const size_t ej = std::min(b.find('\n', j), b.size());
    if (a.compare(i, ei - i, b, j, ej - j) != 0 && count++ == 0 && first != nullptr) {
      std::snprintf(text, sizeof text, "%.*s -> %.*s", static_cast<int>(std::min<size_t>(ei - i, 90)), a.c_str() + i,
                    static_cast<int>(std::min<size_t>(ej - j, 90)), b.c_str() + j);
      *first = text;
    }
    i = ei + 1;
    j = ej + 1;
  }
  return count;
}

// Load and apply as the console's start-up does.
void StartFromSettings(const char* path) {
  ResetAll();
  CreateConsole(path);
}

}  // namespace

int FuzzSettingsFile(const uint8_t* data, size_t size, FuzzStats* stats) {
  if (FuzzDir() == nullptr) return 0;
  const std::string ini = InFuzzDir("Orvale.INI");
  const std::string fresh = InFuzzDir("fresh.INI");
  static std::string defaults;
  if (defaults.empty()) {
    ResetAll();
    defaults = SavedKeys(fresh);
  }
  if (!WriteBytes(ini, data, size)) return 0;
  auto broken = [stats](const char* what, const char* key = nullptr) {
    stats->broken = what;
    stats->brokenKey = key;
    return 1;
  };

  StartFromSettings(ini.c_str());
  if (const char* key = SettingOutOfRange()) return broken("a loaded value is out of range", key);
  // The display tables take tens of milliseconds to build: they are built
  // once for each combination of the values they are made from in this
  // process (a value missing here costs coverage, never a false finding).
  static std::set<std::string> built;
  const Settings& v = g_settings;
  char tableKey[160];
  std::snprintf(tableKey, sizeof tableKey, "%d %d %d %d %d %d %d %d %d %d %.17g", v.DisplayType, v.Range,
                v.StepSize, v.SectorSize, v.Frequency, v.ProcessingMode, v.HalfRange, v.Xdcr, v.ProfileGrid,
                v.Colors, v.ProfileTiltAngle);
  if (built.size() > 20000) built.clear();
  if (built.insert(tableKey).second) {
    InitPipeline();
    if (const char* key = SettingOutOfRange()) return broken("an applied value is out of range", key);
  }
  const std::string first = SavedKeys(fresh);
  if (first.empty() || !SaveSettings(ini.c_str())) return broken("the settings could not be saved");
  const std::string saved = ReadBytes(ini);
  stats->settingsKeysChanged += LinesDiffering(defaults, first);

  // The saved file, loaded the same way, holds the same values and saves
  // to the same bytes.
  StartFromSettings(ini.c_str());
  if (const char* key = SettingOutOfRange()) return broken("a value loaded back is out of range", key);
  const std::string second = SavedKeys(fresh);
  if (second != first) {
    const char* difference = nullptr;
    LinesDiffering(first, second, &difference);
    return broken("the saved file loads back to other values", difference);
  }
  if (!SaveSettings(ini.c_str())) return broken("the loaded-back settings could not be saved");
  if (ReadBytes(ini) != saved) return broken("saved again, the file changed");
  return 0;
}

namespace {

// The files a command line may name: sonar files (one with a lower-case
// extension and a blank, one in a subdirectory, one under a dotted
// directory), a file without the magic, one too short for it, and a
// directory named like a sonar file.
void MakeCommandLineFiles() {
  static int made = 0;
  if (made) return;
  made = 1;
  const char kRecord[] = "K41\x01\x02\x03";
  ::mkdir(InFuzzDir("sub").c_str(), 0700);
  ::mkdir(InFuzzDir("a.b").c_str(), 0700);
  ::mkdir(InFuzzDir("dir.K41").c_str(), 0700);
  const char* sonar[] = {"survey.K41", "Survey Two.k41", "sub/deep.K41", "a.b/c.K41"};
  for (const char* name : sonar) WriteBytes(InFuzzDir(name), kRecord, sizeof kRecord - 1);
  WriteBytes(InFuzzDir("nomagic.K41"), "XYZ\x01", 4);
  WriteBytes(InFuzzDir("short.K41"), "K4", 2);
}

// A text that could name a file outside the directory is not parsed: the
// parser would create outputs beside whatever sonar file it names.
int ReachesOutside(const char* text) {
  if (std::strstr(text, "..") != nullptr) return 1;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '"') ++p;
  return *p == '/';
}

int Terminated(const char* buffer) { return std::memchr(buffer, 0, kCommandLineNameBytes) != nullptr; }

int Flag(int v) { return v == 0 || v == 1; }

// An output name: empty, or the file's name with its extension replaced by
// `suffix`, created on disk. Empty is only right when the name would not fit.
int OutputBroken(const char* out, int asked, const char* fileName, const char* suffix, long* created) {
  const size_t base = std::strlen(fileName) - 4;
  if (out[0] == '\0') return asked && base + std::strlen(suffix) < static_cast<size_t>(kCommandLineNameBytes);
  if (!asked) return 1;
  if (std::strncmp(out, fileName, base) != 0 || std::strcmp(out + base, suffix) != 0) return 1;
  ++*created;
  return ::access(out, F_OK) != 0;
}

int CommandLineBroken(const char* text, int result, FuzzStats* stats) {
  const CommandLineState& c = g_commandLine;
  if (!Terminated(c.fileName) || !Terminated(c.pointName) || !Terminated(c.beamName) || !Terminated(c.xtfName))
    return 1;
  if (!Flag(c.conversionRun) || !Flag(c.writePoints) || !Flag(c.writeBeams) || !Flag(c.writeXtf)) return 1;
  if ((c.writeXtf && !c.writePoints) || (c.writePoints && c.writeBeams)) return 1;
  if (result != kCmdConversion) {
    if (c.conversionRun || c.pointName[0] || c.beamName[0] || c.xtfName[0]) return 1;
    if (result == kCmdClose) {
      stats->commandLinesRefused++;
      return c.error == kCmdErrNone;
    }
    return result != kCmdInteractive || c.error != kCmdErrNone;
  }
  stats->commandLinesAccepted++;
  if (!c.conversionRun || c.error != kCmdErrNone || g_settings.RunMode != 1) return 1;
  // A readable .K41 file whose name, less an added extension, the text holds.
  const size_t len = std::strlen(c.fileName);
  if (len < 5 || strcasecmp(c.fileName + len - 4, ".K41") != 0) return 1;
  if (c.fileName[0] == ' ' || c.fileName[0] == '\t') return 1;
  if (std::string(text).find(std::string(c.fileName, len - 4)) == std::string::npos) return 1;
  if (ReadBytes(c.fileName).compare(0, 3, "K41") != 0) return 1;
  return OutputBroken(c.pointName, c.writePoints, c.fileName, ".K4P", &stats->commandLineOutputs) ||
         OutputBroken(c.beamName, c.writeBeams, c.fileName, ".K4B", &stats->commandLineOutputs) ||
         OutputBroken(c.xtfName, c.writeXtf, c.fileName, "_sss.XTF", &stats->commandLineOutputs);
}

}  // namespace

int FuzzCommandLine(const uint8_t* data, size_t size, FuzzStats* stats) {
  if (FuzzDir() == nullptr) return 0;
  MakeCommandLineFiles();
  char text[301];
  const size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
  if (n > 0) std::memcpy(text, data, n);
  text[n] = '\0';
  if (ReachesOutside(text)) return 0;
  ResetSettings();
  ResetCommandLine();
  // The names are relative to the directory the program was started in.
  const int home = ::open(".", O_RDONLY | O_DIRECTORY);
  if (home < 0 || ::chdir(FuzzDir()) != 0) {
    if (home >= 0) ::close(home);
    return 0;
  }
  const int result = ProcessCommandLine(text);
  const int failure = CommandLineBroken(text, result, stats);
  if (failure) stats->broken = "the parsed command line is inconsistent";
  CloseConversionOutputs();
  const int back = ::fchdir(home);
  ::close(home);
  return failure || back != 0;
}
