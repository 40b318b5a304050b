// The head simulator on a thread of the test, listening on 127.0.0.1 at a
// port the system picks: a head for the acquisition tests that need no
// second process. Counters of g_headSim are read after Stop().
#pragma once

#include <gtest/gtest.h>

#include <thread>

#include "headsim.h"
#include "scene.h"

namespace testutil {

class SimHead {
 public:
  // Faults and pacing are set on g_headSim between the constructor and Start.
  explicit SimHead(double rangeM = 30.0) {
    SceneParams scene;
    scene.rangeM = rangeM;
    scene.rangeStep = 0;
    scene.seed = 7;
    ResetHeadSim(scene);
  }
  ~SimHead() { Stop(); }
  SimHead(const SimHead&) = delete;
  SimHead& operator=(const SimHead&) = delete;

  // Listens and serves until Stop. Returns the port, 0 when it cannot listen.
  int Start(int maxPings = 0) {
    if (!HeadSimListen("127.0.0.1", 0)) {
      ADD_FAILURE() << "the simulator cannot listen on 127.0.0.1";
      return 0;
    }
    port_ = g_headSim.port;
    thread_ = std::thread([maxPings] { HeadSimServe(maxPings); });
    return port_;
  }
  void Stop() {
    g_headSim.stop.store(1);
    if (thread_.joinable()) thread_.join();
    HeadSimClose();
  }
  int port() const { return port_; }

 private:
  std::thread thread_;
  int port_ = 0;
};

}  // namespace testutil
