// Replays the committed fuzz corpora through the fuzzers' entry code, so the
// ordinary (sanitized) test build keeps every input that once found new
// paths, and checks that the corpora still reach what they were kept for.
// The inputs of past findings (tests/fuzz/regressions/<name>/, kept apart so
// that a corpus merge cannot drop them) are replayed with their corpus.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "fuzz/fuzz_entries.h"

namespace {

// ORVALE_TEST_DATA is tests/data; the corpora live beside it under tests/fuzz.
std::string FuzzDir(const char* kind, const char* name) {
  std::string tests = ORVALE_TEST_DATA;
  tests.erase(tests.find_last_of('/'));
  return tests + "/fuzz/" + kind + "/" + name;
}
std::string CorpusDir(const char* name) { return FuzzDir("corpus", name); }

std::vector<std::string> ListFiles(const std::string& dir) {
  std::vector<std::string> files;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return files;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    files.push_back(dir + "/" + e->d_name);
  }
  closedir(d);
  return files;
}

using Entry = int (*)(const uint8_t*, size_t, FuzzStats*);

FuzzStats ReplayAll(const char* name, Entry entry) {
  FuzzStats total;
  const std::vector<std::string> files = ListFiles(CorpusDir(name));
  EXPECT_FALSE(files.empty()) << "no corpus under " << CorpusDir(name);
  EXPECT_LE(files.size(), 120u) << "corpus should stay small; minimise it with scripts/fuzz.sh merge";
  std::vector<std::string> all = files;
  for (const std::string& path : ListFiles(FuzzDir("regressions", name))) all.push_back(path);
  for (const std::string& path : all) {
    SCOPED_TRACE(path);
    const std::vector<uint8_t> bytes = testutil::ReadAll(path);
    total.broken = nullptr;
    EXPECT_EQ(0, entry(bytes.data(), bytes.size(), &total))
        << (total.broken ? total.broken : "") << " " << (total.brokenKey ? total.brokenKey : "");
  }
  return total;
}

TEST(FuzzReplay, PacketCorpusAssemblesAndDecodesPings) {
  const FuzzStats s = ReplayAll("packet", FuzzPacketAssembly);
  // The seeds hold complete pings of every type; a corpus that no longer
  // completes a ping tests nothing of the decoder.
  EXPECT_GT(s.pingsCompleted, 0);
  EXPECT_GE(s.pingsDecoded, s.pingsCompleted);
}

TEST(FuzzReplay, K41CorpusReadsRecordsAndMeetsDamage) {
  const FuzzStats s = ReplayAll("k41_reader", FuzzK41Reader);
  EXPECT_GT(s.recordsRead, 0);
  EXPECT_GT(s.damagedItems, 0);
}

TEST(FuzzReplay, NmeaCorpusFixesAndDecodes) {
  const FuzzStats s = ReplayAll("nmea", FuzzNmea);
  // Seeds hold real receivers' sentences of every position type.
  EXPECT_GT(s.sentencesAccepted, 0);
  EXPECT_GT(s.fixes, 0);
}

TEST(FuzzReplay, ProbeCorpusReachesThePingCycle) {
  const FuzzStats s = ReplayAll("probe", FuzzProbe);
  EXPECT_GT(s.probeLinesTaken, 0);
  EXPECT_GT(s.probeValuesTaken, 0);
}

TEST(FuzzReplay, ControlCorpusAppliesFieldsAndMeetsOutsiders) {
  const FuzzStats s = ReplayAll("external_control", FuzzExternalControl);
  EXPECT_GT(s.controlFieldsApplied, 20);
  EXPECT_GT(s.controlDatagramsIgnored, 0);
}

TEST(FuzzReplay, SettingsCorpusLoadsSavesAndLoadsBack) {
  const FuzzStats s = ReplayAll("settings_file", FuzzSettingsFile);
  // The seeds change most keys away from the built-in values; a corpus that
  // changes none only ever round-trips the defaults.
  EXPECT_GT(s.settingsKeysChanged, 40);
}

TEST(FuzzReplay, CommandLineCorpusAcceptsRefusesAndCreatesOutputs) {
  const FuzzStats s = ReplayAll("command_line", FuzzCommandLine);
  EXPECT_GT(s.commandLinesAccepted, 0);
  EXPECT_GT(s.commandLinesRefused, 0);
  EXPECT_GT(s.commandLineOutputs, 0);
}

TEST(FuzzReplay, EntriesTakeEmptyAndTinyInputs) {
  FuzzStats s;
  const uint8_t one[1] = {0x4B};
  EXPECT_EQ(0, FuzzPacketAssembly(nullptr, 0, &s));
  EXPECT_EQ(0, FuzzPacketAssembly(one, 1, &s));
  EXPECT_EQ(0, FuzzK41Reader(one, 1, &s));
  EXPECT_EQ(0, FuzzNmea(nullptr, 0, &s));
  EXPECT_EQ(0, FuzzNmea(one, 1, &s));
  EXPECT_EQ(0, FuzzProbe(nullptr, 0, &s));
  EXPECT_EQ(0, FuzzProbe(one, 1, &s));
  EXPECT_EQ(0, FuzzExternalControl(nullptr, 0, &s));
  EXPECT_EQ(0, FuzzExternalControl(one, 1, &s));
  EXPECT_EQ(0, FuzzSettingsFile(nullptr, 0, &s));
  EXPECT_EQ(0, FuzzSettingsFile(one, 1, &s));
  EXPECT_EQ(0, FuzzCommandLine(nullptr, 0, &s));
  EXPECT_EQ(0, FuzzCommandLine(one, 1, &s));
  EXPECT_EQ(0, s.recordsRead);
  EXPECT_EQ(0, s.commandLinesAccepted);
}

}  // namespace
