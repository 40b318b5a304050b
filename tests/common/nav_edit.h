// Tests set the navigation state as the GPS reader would: through the writer
// lock, published when the edit goes out of scope. NavNow() is a reader's
// snapshot.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstring>

#include "nav/nav_state.h"

namespace testutil {

class NavEdit {
 public:
  NavEdit() : nav_(BeginNavWrite()) {}
  ~NavEdit() { EndNavWrite(); }
  NavEdit(const NavEdit&) = delete;
  NavEdit& operator=(const NavEdit&) = delete;
  NavSnapshot* operator->() const { return nav_; }

 private:
  NavSnapshot* nav_;
};

inline NavSnapshot NavNow() {
  NavSnapshot n;
  CopyNavSnapshot(&n);
  return n;
}

// Position texts (" DD.MM.FFFFF N", "DDD.MM.FFFFF E", 14 characters each)
// about northM / eastM metres from 50 N 1 E; the metres per degree are
// near enough for steps of metres to kilometres.
inline void PositionTextsAt(double northM, double eastM, char* lat, char* lon) {
  const double latDeg = 50.0 + northM / 111229.0;
  const double lonDeg = 1.0 + eastM / 71696.0;
  const double latMin = latDeg * 60.0, lonMin = lonDeg * 60.0;
  char buf[32];
  std::snprintf(buf, sizeof buf, " %02d.%02d.%05d N", static_cast<int>(latMin / 60), static_cast<int>(latMin) % 60,
                static_cast<int>(std::fmod(latMin, 1.0) * 1e5));
  std::memcpy(lat, buf, 14);
  std::snprintf(buf, sizeof buf, "%03d.%02d.%05d E", static_cast<int>(lonMin / 60), static_cast<int>(lonMin) % 60,
                static_cast<int>(std::fmod(lonMin, 1.0) * 1e5));
  std::memcpy(lon, buf, 14);
}

}  // namespace testutil
