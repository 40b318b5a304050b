// The scene generator against its physics: echoes at their two-way delay on
// every element, the inter-element phase of the arrival angle, silence at
// 127 plus noise, the raw element order of the mounting, the type "U" delay
// that the decoder takes back out, and a seabed at a known depth.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "common/alloc_counter.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "processing/beamform.h"
#include "scene.h"
#include "settings/settings.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
using cd = std::complex<double>;

class ScenePhysics : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings = Settings{};
    ResetSwitchState();
    ResetReturnData();
    ResetScene();
  }

  // A quiet scene: no seabed, no noise, one target.
  static SceneParams OneTarget(int type, double angleDeg, double rangeM, double strength = 60.0) {
    SceneParams p;
    p.dataType = type;
    p.rangeStep = 5;  // 30 m
    p.seabed = 0;
    p.noise = 0.0;
    p.targets[0] = {angleDeg, rangeM, strength};
    p.targetCount = 1;
    return p;
  }

  // Synthesises and decodes one ping the way the console does with the
  // scene's own transducer and pulse settings.
  void Decode(const SceneParams& p, int ping = 0) {
    record.assign(kRecordBufferBytes, 0);
    const int length = SynthesizePing(p, ping, record.data());
    ASSERT_GT(length, 0);
    g_settings.Xdcr = p.xdcr;
    g_settings.PulseLength = ScenePulseUs(p);
    ASSERT_EQ(1, LoadPingRecord(record.data(), length));
    ASSERT_EQ(1, DecodePingAt(1.0));
  }

  std::vector<uint8_t> record;
};

// Baseband of a quarter-rate carrier at sample s: a 9-tap window with half
// weights at the ends, which cancels the carrier's image exactly.
cd Baseband(const float* x, int n, int s) {
  cd z = 0.0;
  for (int m = -4; m <= 4; ++m) {
    const int i = s + m;
    if (i < 0 || i >= n) continue;
    const double w = (m == -4 || m == 4) ? 0.5 : 1.0;
    z += w * static_cast<double>(x[i]) * std::polar(1.0, -kPi / 2.0 * i);
  }
  return z / 4.0;
}

// Centre of the strongest echo: the power centroid of the baseband over the
// samples around the maximum that keep more than half its amplitude. The
// window and the envelope are both symmetric, so the centroid is the
// envelope's centre even where a short pulse leaves a flat top.
double EchoCentre(const float* x, int n) {
  std::vector<double> mag(n);
  int best = 0;
  for (int s = 0; s < n; ++s) {
    mag[s] = std::abs(Baseband(x, n, s));
    if (mag[s] > mag[best]) best = s;
  }
  const double half = 0.5 * mag[best];
  int lo = best, hi = best;
  while (lo > 0 && mag[lo - 1] > half) --lo;
  while (hi + 1 < n && mag[hi + 1] > half) ++hi;
  double sum = 0.0, moment = 0.0;
  for (int s = lo; s <= hi; ++s) {
    sum += mag[s] * mag[s];
    moment += s * mag[s] * mag[s];
  }
  return moment / sum;
}

double WrapPi(double a) { return std::remainder(a, 2.0 * kPi); }

// Same for a raw byte column (position p of every 16-byte group).
std::vector<float> RawColumn(const std::vector<uint8_t>& rec, int n, int p) {
  std::vector<float> x(n);
  for (int s = 0; s < n; ++s) x[s] = static_cast<float>(rec[kRecordHeaderBytes + s * kElements + p]) - 127.f;
  return x;
}

TEST_F(ScenePhysics, TargetArrivesAtTwoWayDelayOnEveryElement) {
  // The head samples in time for its range at 1500 m/s: sample s is at
  // two-way time s * (2R / 1500) / n, and an echo from r metres arrives at
  // 2r / c. Types without a delay shift, so raw and decoded agree.
  struct Case {
    const char* legend;
    int type;
    double soundSpeed;
    double rangeM;
  };
  const Case cases[] = {
      {"V 1500 m/s 12 m", 1, 1500.0, 12.0},
      {"V 1480 m/s 12 m", 1, 1480.0, 12.0},
      {"Z 1500 m/s 21.3 m", 2, 1500.0, 21.3},
      {"Y 1530 m/s 5 m", 3, 1530.0, 5.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SceneParams p = OneTarget(c.type, 20.0, c.rangeM);
    p.soundSpeed = c.soundSpeed;
    Decode(p);
    const int n = g_sampleCount;
    const double sampleTime = (2.0 * 30.0 / 1500.0) / n;
    const double expected = (2.0 * c.rangeM / c.soundSpeed) / sampleTime;
    for (int e = 0; e < kElements; ++e) {
      SCOPED_TRACE(e);
      EXPECT_NEAR(expected, EchoCentre(g_elementSamples[e], n), 0.5);
    }
  }
}

TEST_F(ScenePhysics, InterElementPhaseIsTheOneTheSteeringUndoes) {
  // The beamformer sums z_e e^{jψ_e} with ψ_e = (e - 7.5) sin φ (d/c) ω, so an
  // echo it is to find at steering angle φ must carry the phase -ψ_e. A
  // starboard echo (scene angle θ > 0) belongs at φ = θ, in the high beams.
  g_switch.headTypeSetting = 4;
  g_settings.Range = 5;
  g_settings.Frequency = 260;
  SetupBeamGeometry();
  const double kPerSin = g_beamGeom.elementSpacingM / g_beamGeom.soundSpeed * g_beamGeom.omega;
  ASSERT_GT(kPerSin, 0.5);

  for (double theta : {-40.0, -10.0, 0.0, 7.5, 25.0, 55.0}) {
    SCOPED_TRACE(theta);
    const SceneParams p = OneTarget(1, theta, 15.0, 100.0);
    Decode(p);
    const int n = g_sampleCount;
    const int s = static_cast<int>(std::lround(SceneSampleOfRange(p, 15.0)));
    const double phi = theta * kPi / 180.0;
    const double expectedStep = -std::sin(phi) * kPerSin;
    // Each neighbour pair within the 8-bit quantisation; the mean of the
    // fifteen steps much closer.
    double meanError = 0.0;
    for (int e = 0; e + 1 < kElements; ++e) {
      const cd a = Baseband(g_elementSamples[e], n, s);
      const cd b = Baseband(g_elementSamples[e + 1], n, s);
      const double error = WrapPi(std::arg(b * std::conj(a)) - expectedStep);
      EXPECT_NEAR(0.0, error, 0.05) << "elements " << e << "," << e + 1;
      meanError += error / (kElements - 1);
    }
    EXPECT_NEAR(0.0, meanError, 0.01);
  }
}

TEST_F(ScenePhysics, SilenceIs127AndNoiseHasItsLevel) {
  SceneParams p;
  p.dataType = 1;
  p.seabed = 0;
  p.noise = 0.0;
  std::vector<uint8_t> rec(kRecordBufferBytes);
  const int length = SynthesizePing(p, 0, rec.data());
  ASSERT_EQ(16013, length);
  for (int i = kRecordHeaderBytes; i < length - 1; ++i) ASSERT_EQ(127, rec[i]) << "byte " << i;

  p.noise = 3.0;
  ASSERT_EQ(length, SynthesizePing(p, 0, rec.data()));
  double sum = 0.0, sumSq = 0.0;
  int far = 0;
  const int count = 16000;
  for (int i = 0; i < count; ++i) {
    const double v = rec[kRecordHeaderBytes + i] - 127.0;
    sum += v;
    sumSq += v * v;
    if (std::fabs(v) > 6.0 * 3.0) far++;
  }
  const double mean = sum / count;
  EXPECT_NEAR(0.0, mean, 0.1);
  EXPECT_NEAR(3.0, std::sqrt(sumSq / count - mean * mean), 0.15);
  EXPECT_EQ(0, far);
}

TEST_F(ScenePhysics, EchoIsSilentAwayFromTheTarget) {
  SceneParams p = OneTarget(1, -15.0, 9.0);
  p.noise = 1.0;
  Decode(p);
  const double centre = SceneSampleOfRange(p, 9.0);
  const double reach = g_scene.pulseHalfWidth + 1.0;
  int loud = 0, quiet = 0;
  for (int s = 0; s < g_sampleCount; ++s) {
    for (int e = 0; e < kElements; ++e) {
      const float v = std::fabs(g_elementSamples[e][s]);
      if (std::fabs(s - centre) > reach) {
        if (v > 6.0f) quiet++;  // six sigma of the noise
      } else if (v > 30.0f) {
        loud++;
      }
    }
  }
  EXPECT_EQ(0, quiet);
  EXPECT_GT(loud, kElements);  // the target is there on every element
}

TEST_F(ScenePhysics, UpAndDownMountingReverseTheRawElementOrder) {
  SceneParams up = OneTarget(0, 30.0, 10.0);
  up.noise = 2.0;
  up.xdcr = 1;
  SceneParams down = up;
  down.xdcr = 0;
  std::vector<uint8_t> a(kRecordBufferBytes), b(kRecordBufferBytes);
  ASSERT_EQ(8013, SynthesizePing(up, 3, a.data()));
  ASSERT_EQ(8013, SynthesizePing(down, 3, b.data()));
  for (int q = 0; q < 500; ++q)
    for (int pos = 0; pos < kElements; ++pos)
      ASSERT_EQ(a[kRecordHeaderBytes + q * 16 + pos], b[kRecordHeaderBytes + q * 16 + 15 - pos])
          << "sample " << q << " position " << pos;

  // Each decoded with its own mounting, the element rows are the same.
  Decode(up, 3);
  std::vector<float> rows(&g_elementSamples[0][0], &g_elementSamples[0][0] + kElements * kMaxSamples);
  Decode(down, 3);
  for (int e = 0; e < kElements; ++e)
    for (int s = 0; s < 500; ++s) ASSERT_EQ(rows[e * kMaxSamples + s], g_elementSamples[e][s]);
}

TEST_F(ScenePhysics, TypeUDelayIsTakenOutByTheDecoder) {
  struct Case {
    const char* legend;
    int step;
    int pulseUs;
    int mode;
    double targetM;
  };
  const Case cases[] = {
      {"5 m, 180 us, mode 0: late by 15", 2, 180, 0, 3.0},
      {"5 m, 500 us, mode 4", 2, 500, 4, 2.2},
      {"20 m, 30 us, mode 0: early", 4, 30, 0, 11.0},
      {"60 m, 180 us, mode 1", 8, 180, 1, 40.0},
      {"30 m, 185 us: the head uses 180", 5, 185, 0, 17.0},
  };
  int sawPositive = 0, sawNegative = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SceneParams p = OneTarget(0, 10.0, c.targetM);
    p.rangeStep = c.step;
    p.pulseUs = c.pulseUs;
    p.headModeCode = c.mode;
    const int shift = DelayShiftSamples(kRangeTable[c.step].commandM, (c.pulseUs / 10) * 10, c.mode, 500);
    sawPositive |= shift > 0;
    sawNegative |= shift < 0;
    Decode(p);
    const double truth = SceneSampleOfRange(p, c.targetM);
    const std::vector<float> raw = RawColumn(record, 500, 15);  // Up: element 0
    EXPECT_NEAR(truth - shift, EchoCentre(raw.data(), 500), 0.5);
    EXPECT_NEAR(truth, EchoCentre(g_elementSamples[0], 500), 0.5);
    EXPECT_NEAR(truth, EchoCentre(g_elementSamples[15], 500), 0.5);
  }
  EXPECT_TRUE(sawPositive);
  EXPECT_TRUE(sawNegative);
}

TEST_F(ScenePhysics, SeabedFirstReturnIsAtItsPerpendicularDistance) {
  // The seabed's first echo comes from the foot of the perpendicular,
  // depth x cos(slope) away; nothing comes back before it.
  struct Case {
    const char* legend;
    double depthM;
    double slopeDeg;
  };
  const Case cases[] = {{"flat 12 m", 12.0, 0.0}, {"flat 20 m", 20.0, 0.0}, {"15 m, 20 deg slope", 15.0, 20.0},
                        {"15 m, -35 deg slope", 15.0, -35.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SceneParams p;
    p.dataType = 1;
    p.rangeStep = 5;
    p.depthM = c.depthM;
    p.slopeDeg = c.slopeDeg;
    p.noise = 0.5;
    Decode(p);
    const double first = SceneSampleOfRange(p, c.depthM * std::cos(c.slopeDeg * kPi / 180.0));
    const int n = g_sampleCount;
    // First sample whose baseband on element 7 passes half the seabed strength.
    int onset = -1;
    for (int s = 0; s < n && onset < 0; ++s)
      if (std::abs(Baseband(g_elementSamples[7], n, s)) > 0.5 * p.seabedStrength) onset = s;
    ASSERT_GE(onset, 0);
    EXPECT_NEAR(first, onset, g_scene.pulseHalfWidth + 2.0);
    for (int s = 0; s < first - g_scene.pulseHalfWidth - 5; ++s)
      ASSERT_LT(std::abs(Baseband(g_elementSamples[7], n, s)), 3.0) << "sample " << s;
  }
}

// A seabed of evenly spread scatterers: the power one element hears from
// range r is the seabed strip that the sample cuts out, r dr / x wide (x the
// distance from the foot of the perpendicular), times the backscatter. With
// no angle fall-off the power per metre of strip is the same under the
// sonar and far out; a seabed of one equal patch per sample would instead be
// as loud at 60 degrees as at 10.
TEST_F(ScenePhysics, SeabedPowerFollowsTheWidthOfTheStripEachSampleCuts) {
  SceneParams p;
  p.dataType = 1;
  p.rangeStep = 5;  // 30 m, 1000 samples
  p.depthM = 10.0;
  p.noise = 0.0;
  p.speckle = 1;
  p.angleFalloff = 0.0;
  p.seabedStrength = 4.0;
  const int pings = 300;
  const double anglesDeg[] = {12.0, 30.0, 45.0, 60.0};
  double perMetre[4] = {};
  for (int a = 0; a < 4; ++a) {
    const double theta = anglesDeg[a] * kPi / 180.0;
    const double r = p.depthM / std::cos(theta);
    const int s = static_cast<int>(std::lround(SceneSampleOfRange(p, r)));
    double power = 0.0;
    for (int ping = 0; ping < pings; ++ping) {
      Decode(p, ping);
      for (int e = 0; e < kElements; e += 5) power += std::norm(Baseband(g_elementSamples[e], g_sampleCount, s));
    }
    // Strip width per metre of range: r / x = 1 / sin θ.
    perMetre[a] = power * std::sin(theta);
  }
  for (int a = 1; a < 4; ++a) {
    SCOPED_TRACE(anglesDeg[a]);
    EXPECT_NEAR(perMetre[a] / perMetre[0], 1.0, 0.3);
  }
}

TEST_F(ScenePhysics, SpeckleChangesFromPingToPingAndRepeatsForTheSameSeed) {
  SceneParams p;
  p.dataType = 0;
  p.speckle = 1;
  p.seed = 77;
  std::vector<uint8_t> a(kRecordBufferBytes), b(kRecordBufferBytes), c(kRecordBufferBytes);
  ASSERT_EQ(8013, SynthesizePing(p, 4, a.data()));
  ASSERT_EQ(8013, SynthesizePing(p, 5, b.data()));
  ResetScene();
  ASSERT_EQ(8013, SynthesizePing(p, 4, c.data()));
  EXPECT_EQ(a, c);
  EXPECT_NE(a, b);

  // Without speckle or noise a still scene gives the same ping every time.
  p.speckle = 0;
  p.noise = 0.0;
  ASSERT_EQ(8013, SynthesizePing(p, 4, a.data()));
  ASSERT_EQ(8013, SynthesizePing(p, 9, b.data()));
  EXPECT_EQ(a, b);
}

TEST_F(ScenePhysics, ElementSpacingMatchesTheBeamformerGeometry) {
  for (int type = 0; type < 14; ++type) {
    if (type == 10) continue;
    for (int step : {2, 3, 4, 5, 7}) {
      for (int mode : {0, 4}) {
        SCOPED_TRACE(testing::Message() << "head type " << type << " step " << step << " mode " << mode);
        g_switch.headTypeSetting = type;
        g_settings.Range = step;
        g_ping.headModeCode = mode;
        SetupBeamGeometry();
        SceneParams p;
        p.headTypeSetting = type;
        p.rangeStep = step;
        p.headModeCode = mode;
        EXPECT_DOUBLE_EQ(g_beamGeom.elementSpacingM, SceneElementSpacingM(p));
      }
    }
  }
}

TEST_F(ScenePhysics, SynthesisAllocatesNothingOnceTheSceneIsBuilt) {
  SceneParams p;
  p.dataType = 1;
  p.speckle = 1;
  p.targetCount = 2;
  p.targets[1] = {-20.0, 8.0, 50.0};
  static uint8_t rec[kRecordBufferBytes];
  ASSERT_GT(SynthesizePing(p, 0, rec), 0);
  alloc_counter::Start();
  for (int ping = 1; ping < 4; ++ping) ASSERT_GT(SynthesizePing(p, ping, rec), 0);
  EXPECT_EQ(0, alloc_counter::Stop());
  EXPECT_EQ(1, g_scene.tableBuilds);
}

}  // namespace
