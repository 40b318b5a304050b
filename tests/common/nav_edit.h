// Tests set the navigation state as the GPS reader would: through the writer
// lock, published when the edit goes out of scope. NavNow() is a reader's
// snapshot.
#pragma once

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

}  // namespace testutil
