// Shared set-up of the output tests: a clean module state, a temporary
// directory for files, and a UDP listener on 127.0.0.1 that the output
// socket is pointed at.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/chain_fixture.h"
#include "common/field_bytes.h"
#include "files/sonar_file.h"
#include "processing/xtf.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "platform/net.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

namespace outtest {

using testutil::BE16;
using testutil::BE24;
using testutil::BE32;
using testutil::LE16;
using testutil::LE32;
using testutil::LEDouble;
using testutil::LEFloat;
using testutil::ReadAll;

// A datagram listener on 127.0.0.1 with a receive buffer large enough for a
// whole 480-beam record.
struct Listener {
  int fd = -1;
  int port = 0;
  Listener() {
    fd = net::UdpOpen("127.0.0.1", 0);
    if (fd >= 0) {
      const int size = 8 << 20;
      // SO_RCVBUFFORCE passes the system cap when allowed; the plain option otherwise.
      if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
      port = net::LocalPort(fd);
    }
  }
  ~Listener() { net::CloseSocket(fd); }
  // Every datagram waiting now (waits up to waitMs for the first).
  std::vector<std::vector<uint8_t>> Drain(int waitMs = 200) {
    std::vector<std::vector<uint8_t>> out;
    static uint8_t buf[70000];
    if (net::WaitReadable(fd, waitMs) <= 0) return out;
    for (;;) {
      const int n = net::UdpReceive(fd, buf, sizeof buf, nullptr, nullptr);
      if (n < 0) {
        if (net::WaitReadable(fd, 20) <= 0) break;
        continue;
      }
      out.emplace_back(buf, buf + n);
    }
    return out;
  }
};

class OutputsFixture : public testutil::ChainTest {
 protected:
  OutputsFixture() : ChainTest("orvale_out") {}
  void PointSocketAt(const Listener& l) {
    std::snprintf(g_settings.IPAddress_Output1, sizeof g_settings.IPAddress_Output1, "127.0.0.1");
    g_settings.RemotePort_Output1 = l.port;
    ASSERT_EQ(OpenOutputSocket(), 1);
  }
  // A ping of n beams and s samples with the point of output entry e at
  // (e + 1) * 10 tenths of a sample and intensity e % 256.
  void FakePing(int n, int s) {
    g_beamGeom.beams = n;
    g_beamGeom.samples = s;
    g_beamGeom.sectorDeg = 120.0;
    g_sampleCount = s;
    g_profileOutputCount = n;
    for (int e = 0; e < n; ++e) {
      g_pointRangeTenths[e] = (e + 1) * 10;
      g_profileOutputBeam[e].Intensity = e % 256;
      g_profileOutputBeam[e].AngleDeg = 60.0f - 0.5f * e;
    }
    for (int b = 0; b < n; ++b)
      for (int i = 0; i < s; ++i) g_beamImage[b][i] = static_cast<float>((b + i) % 256);
  }
};

}  // namespace outtest
