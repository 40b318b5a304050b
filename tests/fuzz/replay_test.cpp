// Replays the committed fuzz corpora through the fuzzers' entry code, so the
// ordinary (sanitized) test build keeps every input that once found new
// paths, and checks that the corpora still reach what they were kept for.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "fuzz/fuzz_entries.h"

namespace {

// ORVALE_TEST_DATA is tests/data; the corpora live beside it under tests/fuzz.
std::string CorpusDir(const char* name) {
  std::string tests = ORVALE_TEST_DATA;
  tests.erase(tests.find_last_of('/'));
  return tests + "/fuzz/corpus/" + name;
}

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
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const std::vector<uint8_t> bytes = testutil::ReadAll(path);
    EXPECT_EQ(0, entry(bytes.data(), bytes.size(), &total));
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
  EXPECT_EQ(0, s.recordsRead);
}

}  // namespace
