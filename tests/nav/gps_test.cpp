// GPS input: the sentence machine and its checksum rules, the decoders of
// GLL, GGA, RMC, VTG and HDT, the position texts and their in-place rebuild,
// and the reader thread on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/nav_edit.h"
#include "nav/gps.h"
#include "settings/settings.h"

namespace {

// "$" + body + "*HH" with the right checksum, or the given one.
std::string Sentence(const std::string& body, const char* checksum = nullptr) {
  int x = 0;
  for (char c : body) x ^= static_cast<unsigned char>(c);
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02X", x);
  return "$" + body + "*" + (checksum ? checksum : hex) + "\r\n";
}

void Feed(const std::string& s) { FeedGpsBytes(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int>(s.size())); }

std::string Text(const char* p) { return std::string(p, kPositionTextBytes); }

class Gps : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetNavState();
    ResetGps();
  }
  void TearDown() override {
    SetGpsFixObserver(nullptr, nullptr);
    ResetNavState();
  }
};

TEST_F(Gps, ChecksumRules) {
  struct Case {
    const char* legend;
    std::string bytes;
    long accepted, failures;
    double heading;  // -1: unchanged
  };
  const Case cases[] = {
      {"right checksum", Sentence("GPHDT,123.4,T"), 1, 0, 123.4},
      {"wrong checksum dropped", Sentence("GPHDT,123.4,T", "00"), 0, 1, -1},
      {"lower-case hex dropped (right value 0E)", Sentence("GPHDT,12.8,T", "0e"), 0, 1, -1},
      {"upper-case of the same accepted", Sentence("GPHDT,12.8,T", "0E"), 1, 0, 12.8},
      {"no checksum, ended by carriage return", "$GPHDT,45.5,T\r\n", 1, 0, 45.5},
      {"cut checksum dropped", "$GPHDT,45.5,T*3\r\n", 0, 1, -1},
      {"leading garbage ignored", "\x01\xff junk " + Sentence("HEHDT,7.25,T"), 1, 0, 7.25},
      {"address of 8 characters dropped", Sentence("GPHDTXYZ,1.0,T"), 0, 0, -1},
      {"data of 256 characters dropped", Sentence("GPHDT,1.0," + std::string(260, '0')), 0, 0, -1},
      {"a cut sentence does not swallow the next", "$GPHDT,99" + Sentence("GPHDT,88.0,T"), 1, 0, 88.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetGps();
    ResetNavState();
    Feed(c.bytes);
    EXPECT_EQ(c.accepted, g_gpsCounters.accepted.load());
    EXPECT_EQ(c.failures, g_gpsCounters.checksumFailures.load());
    const NavSnapshot n = testutil::NavNow();
    EXPECT_EQ(c.heading >= 0 ? 1 : 0, n.trueHeadingValid);
    if (c.heading >= 0) {
      EXPECT_DOUBLE_EQ(c.heading, n.trueHeadingDeg);
    }
  }
}

TEST_F(Gps, ChecksumIsRebuiltIntoTheSentenceText) {
  Feed(Sentence("GPHDT,123.4,T"));
  EXPECT_STREQ(Sentence("GPHDT,123.4,T").c_str(), g_gpsParser.sentence);
  Feed("$GPHDT,1.0,T\r");
  EXPECT_STREQ("$GPHDT,1.0,T\r\n", g_gpsParser.sentence);
}

TEST_F(Gps, HeadingOutsideZeroTo360ChangesNothing) {
  Feed(Sentence("GPHDT,123.4,T"));
  Feed(Sentence("GPHDT,360.0,T"));
  Feed(Sentence("GPHDT,,T"));
  Feed(Sentence("GPHDT,-5.0,T"));
  NavSnapshot n = testutil::NavNow();
  EXPECT_EQ(1, n.trueHeadingValid);
  EXPECT_DOUBLE_EQ(123.4, n.trueHeadingDeg);
  Feed(Sentence("GPHDT,0.0,T"));
  EXPECT_DOUBLE_EQ(0.0, testutil::NavNow().trueHeadingDeg);
}

TEST_F(Gps, PositionSentencesBuildTheTexts) {
  struct Case {
    const char* legend;
    int type;
    std::string body;
    const char* lat;
    const char* lon;
  };
  const Case cases[] = {
      {"GGA 4916.45,N", 1, "GPGGA,123519,4916.45,N,12311.12,W,1,08,0.9,545.4,M,46.9,M,,", " 49.16.45000 N",
       "123.11.12000 W"},
      {"GLL from another talker", 0, "ECGLL,5119.881,N,00125.169,E,164326,A,D", " 51.19.88100 N", "001.25.16900 E"},
      {"RMC with status V still positions", 2, "GPRMC,225446,V,4916.45,S,12311.12,E,000.5,054.7,191194,020.3,E",
       " 49.16.45000 S", "123.11.12000 E"},
      {"six fraction digits keep five", 1, "GNGGA,204132.10,4205.733715,N,08802.040978,W,2,08,1.0,221.9,M,,,3,0138",
       " 42.05.73371 N", "088.02.04097 W"},
      {"no fraction pads with zeros", 1, "INGGA,1,0101,N,00202,E,1", " 01.01.00000 N", "002.02.00000 E"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetNavState();
    SetGpsHeadingType(c.type);
    Feed(Sentence(c.body));
    const NavSnapshot n = testutil::NavNow();
    EXPECT_EQ(c.lat, Text(n.latitude));
    EXPECT_EQ(c.lon, Text(n.longitude));
    EXPECT_EQ(1, n.positionShown);
    EXPECT_EQ(c.lat[13], n.latHemisphere);
  }
}

TEST_F(Gps, ShortIntegerPartsRebuildInPlace) {
  SetGpsHeadingType(0);
  Feed(Sentence("GPGLL,4916.45,N,12311.12,W"));
  Feed(Sentence("GPGLL,816.5,N,311.125,W"));
  const NavSnapshot n = testutil::NavNow();
  // The degree digits the short parts do not reach keep their values.
  EXPECT_EQ(" 48.16.50000 N", Text(n.latitude));
  EXPECT_EQ("123.11.12500 W", Text(n.longitude));
}

TEST_F(Gps, OnlyTheSelectedPositionSentenceCounts) {
  const std::string gll = Sentence("GPGLL,1000.00,N,02000.00,E");
  const std::string gga = Sentence("GPGGA,1,3000.00,N,04000.00,E,1");
  const std::string rmc = Sentence("GPRMC,1,A,5000.00,N,06000.00,E,7.5,45.0,010101");
  const char* expected[] = {" 10.00.00000 N", " 30.00.00000 N", " 50.00.00000 N"};
  for (int type = 0; type < 3; ++type) {
    SCOPED_TRACE(type);
    ResetNavState();
    SetGpsHeadingType(type);
    Feed(gll + gga + rmc);
    EXPECT_EQ(expected[type], Text(testutil::NavNow().latitude));
  }
}

TEST_F(Gps, SpeedAndCourseFromVtgOrRmcByHeadingType) {
  const std::string vtg = Sentence("GPVTG,054.7,T,034.4,M,005.5,N,010.2,K");
  const std::string rmc = Sentence("GPRMC,1,V,5000.00,N,06000.00,E,7.5,45.0,010101");
  SetGpsHeadingType(1);
  Feed(vtg + rmc);
  NavSnapshot n = testutil::NavNow();
  EXPECT_DOUBLE_EQ(5.5, n.speedKnots);
  EXPECT_DOUBLE_EQ(54.7, n.courseDeg);
  EXPECT_EQ(1, n.speedShown);
  ResetNavState();
  SetGpsHeadingType(2);
  Feed(vtg + rmc);
  n = testutil::NavNow();
  EXPECT_DOUBLE_EQ(7.5, n.speedKnots);
  EXPECT_DOUBLE_EQ(45.0, n.courseDeg);
  // VTG values need their unit letters and must not be empty.
  ResetNavState();
  SetGpsHeadingType(0);
  Feed(Sentence("GPVTG,,T,,M,0.00,N,0.0,K,A"));
  Feed(Sentence("GPVTG,90.0,M,,M,3.0,K,,K"));
  n = testutil::NavNow();
  EXPECT_DOUBLE_EQ(0.0, n.speedKnots);
  EXPECT_DOUBLE_EQ(0.0, n.courseDeg);
  EXPECT_EQ(1, n.speedShown);  // the first one gave a speed of 0.00 kn
}

TEST_F(Gps, MissingHemisphereLettersBuildNothingAndDoNotFreshenTheFix) {
  SetGpsHeadingType(1);
  Feed(Sentence("GPGGA,1,4916.45,N,12311.12,W,1"));
  for (int i = 0; i < 3; ++i) (void)AdvanceFixAge();
  Feed(Sentence("GPGGA,2,,,,,0,00,,,M,,M,,"));
  Feed(Sentence("GPGGA,3,4916.45,X,12311.12,W,1"));
  const NavSnapshot n = testutil::NavNow();
  EXPECT_EQ(" 49.16.45000 N", Text(n.latitude));
  EXPECT_EQ(3, n.fixAge);
  EXPECT_EQ(1, g_gpsCounters.fixes.load());
  // A real position makes the fix young again.
  Feed(Sentence("GPGGA,4,4916.46,N,12311.12,W,1"));
  EXPECT_EQ(0, testutil::NavNow().fixAge);
}

TEST_F(Gps, OperatorHoldIgnoresSentences) {
  SetNavHold(1);
  Feed(Sentence("GPHDT,12.0,T"));
  EXPECT_EQ(0, testutil::NavNow().trueHeadingValid);
  EXPECT_EQ(1, g_gpsCounters.heldBack.load());
  SetNavHold(0);
  Feed(Sentence("GPHDT,12.0,T"));
  EXPECT_EQ(1, testutil::NavNow().trueHeadingValid);
}

TEST_F(Gps, ObserverSeesEachFixOnce) {
  int calls = 0;
  SetGpsFixObserver([](const NavSnapshot& n, void* ctx) {
    EXPECT_EQ('N', n.latitude[13]);
    ++*static_cast<int*>(ctx);
  }, &calls);
  SetGpsHeadingType(1);
  Feed(Sentence("GPGGA,1,4916.45,N,12311.12,W,1") + Sentence("GPHDT,1.0,T") + Sentence("GPGGA,1,4916.46,N,12311.12,W,1"));
  EXPECT_EQ(2, calls);
}

}  // namespace
