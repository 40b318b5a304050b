// The element pre-filter, compression and the sliding-DFT demodulator, checked
// against a one-element, one-bin-at-a-time model of the recursion, and the
// demodulator's response to tones.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "beamform_test_util.h"

namespace {

// Plain model of the demodulator for one element: complex arithmetic in
// single precision, bins visited in increasing order, the first four
// outputs dropped, input read past n as it stands in the row.
void ModelDemodulate(const float* x, int n, int k0, int k1, std::vector<float>& outI, std::vector<float>& outQ) {
  const float r = 0.9999499917f;
  const float rL = r * r * r * r * r * r * r * r;
  float Sr[8] = {}, Si[8] = {};
  float delay[8] = {};
  outI.assign(n, 0.0f);
  outQ.assign(n, 0.0f);
  for (int j = 0; j < n + 4; ++j) {
    const float in = x[j];
    const float old = rL * delay[j % 8];
    delay[j % 8] = in;
    float ar = 0.0f, ai = 0.0f;
    for (int k = k0; k <= k1; ++k) {
      const float tr = r * static_cast<float>(std::cos(2.0 * M_PI * k / 8.0));
      const float ti = r * static_cast<float>(std::sin(2.0 * M_PI * k / 8.0));
      const float nr = tr * Sr[k] - ti * Si[k] + old - in;
      const float ni = tr * Si[k] + ti * Sr[k];
      Sr[k] = nr;
      Si[k] = ni;
      ar = nr - ar;
      ai = ni - ai;
    }
    if (j >= 4) {
      outI[j - 4] = -static_cast<float>(std::cos(M_PI / 4)) * ar;
      outQ[j - 4] = -static_cast<float>(std::sin(M_PI / 4)) * ai;
    }
  }
}

class BeamformDemodTest : public ::testing::Test {
 protected:
  void SetUp() override { bftest::ResetAll(1, 2, 500); }
};

TEST_F(BeamformDemodTest, BothPassesMatchTheRecursionElementByElement) {
  for (int n : {500, 1000}) {
    SCOPED_TRACE(testing::Message() << "n = " << n);
    bftest::ResetAll(1, 2, n);
    bftest::AddNoise(60, 77u + n);
    bftest::AddEcho(0.3, n / 3, 40, 90.0);
    // The four samples past n are read as they stand in the row.
    for (int e = 0; e < kElements; ++e)
      for (int s = n; s < n + 4; ++s) g_elementSamples[e][s] = static_cast<float>(e - s % 4);
    float raw[kElements][kMaxSamples];
    std::memcpy(raw, g_elementSamples, sizeof raw);

    ASSERT_EQ(ProcessPing(), 1);

    std::vector<float> i1, q1, i2, q2;
    for (int e = 0; e < kElements; ++e) {
      SCOPED_TRACE(testing::Message() << "element " << e);
      ModelDemodulate(raw[e], n, 1, 3, i1, q1);
      float compressed[kMaxSamples];
      std::memcpy(compressed, raw[e], sizeof compressed);
      int checked = 0;
      for (int s = 0; s < n; ++s) {
        const float x = (i1[s] + q1[s]) * 0.125f;
        ASSERT_NEAR(g_firstPassI[e][s], i1[s], 1e-3f + 1e-5f * std::fabs(i1[s]));
        ASSERT_NEAR(g_firstPassQ[e][s], q1[s], 1e-3f + 1e-5f * std::fabs(q1[s]));
        ASSERT_FLOAT_EQ(g_nadirI[e][s], 0.2f * g_firstPassI[e][s]);
        ASSERT_FLOAT_EQ(g_nadirQ[e][s], 0.2f * g_firstPassQ[e][s]);
        // Compressed samples replace the raw ones: sign kept, root of |x| + 1.
        const float v = x <= 0.0f ? -std::sqrt(1.0f - x) : std::sqrt(x + 1.0f);
        ASSERT_NEAR(g_elementSamples[e][s], v, 1e-4f);
        compressed[s] = g_elementSamples[e][s];
        ++checked;
      }
      EXPECT_EQ(checked, n);
      for (int s = n; s < n + 4; ++s) EXPECT_FLOAT_EQ(g_elementSamples[e][s], raw[e][s]);
      ModelDemodulate(compressed, n, 0, 3, i2, q2);
      for (int s = 0; s < n; ++s) {
        ASSERT_NEAR(g_elementI[e][s], i2[s], 1e-3f + 1e-5f * std::fabs(i2[s]));
        ASSERT_NEAR(g_elementQ[e][s], q2[s], 1e-3f + 1e-5f * std::fabs(q2[s]));
      }
    }
  }
}

TEST_F(BeamformDemodTest, FirstPassRejectsSteadyLevelAndPassesTheCarrierBand) {
  // A steady level (bin 0) and a tone at half the sample rate fall outside
  // bins 1..3; a tone at a quarter of the sample rate is bin 2 and passes
  // with the gain of the eight-sample window.
  struct Case {
    const char* legend;
    double cyclesPerSample;
    double expectedMagnitude;
  } cases[] = {
      {"steady level", 0.0, 0.0},
      {"half the sample rate", 0.5, 0.0},
      {"quarter of the sample rate", 0.25, 100.0 * 4.0 * std::sqrt(0.5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    bftest::ResetAll(1, 2, 500);
    for (int e = 0; e < kElements; ++e)
      for (int s = 0; s < 500; ++s)
        g_elementSamples[e][s] = static_cast<float>(100.0 * std::cos(2.0 * M_PI * c.cyclesPerSample * s));
    ASSERT_EQ(ProcessPing(), 1);
    for (int s = 100; s < 400; s += 37) {
      const double mag = std::hypot(g_firstPassI[5][s], g_firstPassQ[5][s]);
      EXPECT_NEAR(mag, c.expectedMagnitude, 0.5 + 0.01 * c.expectedMagnitude) << "sample " << s;
    }
  }
}

TEST_F(BeamformDemodTest, ToneDelayShowsAsPhaseLagOfTheDemodulatedSignal) {
  // Shifting the input by one sample at a quarter of the sample rate turns
  // the I/Q vector by a quarter turn; this is what beam steering relies on.
  for (int e = 0; e < kElements; ++e)
    for (int s = 0; s < 500; ++s)
      g_elementSamples[e][s] = static_cast<float>(100.0 * std::cos(2.0 * M_PI * 0.25 * (s - (e == 1 ? 1 : 0))));
  ASSERT_EQ(ProcessPing(), 1);
  const double a0 = std::atan2(g_firstPassQ[0][250], g_firstPassI[0][250]);
  const double a1 = std::atan2(g_firstPassQ[1][250], g_firstPassI[1][250]);
  double d = std::remainder(a1 - a0, 2.0 * M_PI);
  EXPECT_NEAR(std::fabs(d), M_PI / 2, 0.01);
}

}  // namespace
