// Navigation state shared by the GPS reader (which writes it on its own
// thread) and the recorder, outputs and track plotter (which read it). The
// only coordination is the position-copy flag: the recorder raises it while
// it copies the 28 position characters, and the GPS reader waits while it is
// up before it parses a new position. Owns g_nav.
#include "nav/nav_state.h"

#include <cstring>

NavState g_nav;

void ResetNavState() {
  std::memset(g_nav.latitude, 0, sizeof g_nav.latitude);
  std::memset(g_nav.longitude, 0, sizeof g_nav.longitude);
  g_nav.latHemisphere = 'N';
  g_nav.lonHemisphere = 'E';
  g_nav.positionParsed = 0;
  g_nav.speedKnots = 0.0;
  g_nav.courseDeg = 0.0;
  g_nav.trueHeadingDeg = 0.0;
  g_nav.trueHeadingValid = 0;
  g_nav.fixAge = 0;
  g_nav.speedShown = 0;
  g_nav.positionShown = 0;
  g_nav.positionCopy = 0;
}

void CopyPositionTexts(char* latitude, char* longitude) {
  g_nav.positionCopy = 1;
  std::memcpy(latitude, g_nav.latitude, kPositionTextBytes);
  std::memcpy(longitude, g_nav.longitude, kPositionTextBytes);
  g_nav.positionCopy = 0;
}

int AdvanceFixAge() {
  g_nav.fixAge++;
  if (g_nav.fixAge != kFixAgeTimeoutS) return 0;
  // Ten seconds without a position sentence: what is left is stale, so it
  // must not go into records as if it were current.
  g_nav.positionShown = 0;
  g_nav.positionCopy = 1;
  std::memset(g_nav.latitude, 0, sizeof g_nav.latitude);
  std::memset(g_nav.longitude, 0, sizeof g_nav.longitude);
  g_nav.positionCopy = 0;
  g_nav.speedShown = 0;
  g_nav.speedKnots = 0.0;
  return 1;
}
