// The three programs together, as on a vehicle: orvale-live pinging the head
// simulator, orvale-remote driving it over the output socket. A range step
// sent by the remote reaches the head and the point records; a recording it
// starts and stops leaves one automatically named file that plays back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "app/app_test_util.h"
#include "common/sim_head.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "platform/net.h"

namespace {

class RemoteLive : public apptest::AppFixture {
 protected:
  static int FreeUdpPort() {
    const int fd = net::UdpOpen("127.0.0.1", 0);
    const int port = net::LocalPort(fd);
    net::CloseSocket(fd);
    return port;
  }
  int Run(const std::string& line) {
    return std::system(("cd '" + dir_ + "' && ORVALE_LOOPBACK_ONLY=1 " + line).c_str());
  }
};

TEST_F(RemoteLive, TheRemoteSetsTheRangeAndRecordsThroughALiveConsole) {
  testutil::SimHead head(30.0);
  const int outputPort = FreeUdpPort();
  WriteLoopbackIni("RemotePort_Sonar1=" + std::to_string(head.Start()) +
                       "\nRange=5\nStepSize=2\nProfilePointDetection=1\nDataOutputType=1\n",
                   outputPort);
  const std::string bin = ORVALE_BIN_DIR;
  ASSERT_EQ(0, Run(bin + "/orvale-live --seconds 9 --no-status > live.txt 2>&1 &"));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const std::string remote = bin + "/orvale-remote --port " + std::to_string(outputPort);
  EXPECT_EQ(0, Run(remote + " --range-step 3 > range.txt 2>&1"));
  EXPECT_EQ(0, Run(remote + " --record start > start.txt 2>&1"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(0, Run(remote + " --record stop > stop.txt 2>&1"));
  for (int i = 0; i < 100 && testutil::ReadText(Path("live.txt")).find("orvale-live:") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  head.Stop();

  // The answer to the range step is a point record of the new range.
  const std::string answer = testutil::ReadText(Path("range.txt"));
  EXPECT_NE(answer.find("range 10 m"), std::string::npos) << answer;
  EXPECT_NE(answer.find("mark"), std::string::npos) << answer;

  std::vector<std::string> files;
  const std::regex dateTime(R"(\d{2}[A-Z]{3}\d{4}-\d{6}\.K41)");
  for (const auto& e : std::filesystem::directory_iterator(dir_))
    if (e.path().extension() == ".K41") files.push_back(e.path().filename().string());
  ASSERT_EQ(files.size(), 1u) << testutil::ReadText(Path("live.txt"));
  EXPECT_TRUE(std::regex_match(files[0], dateTime)) << files[0];
  FILE* f = std::fopen(Path(files[0]).c_str(), "rb");
  ASSERT_NE(f, nullptr);
  int records = 0, tenMetres = 0;
  while (ReadNextRecord(f) == kReadRecord) {
    ++records;
    tenMetres += g_pingRecord[7] == 10;  // the range the head pinged with
  }
  std::fclose(f);
  EXPECT_GT(records, 5);
  EXPECT_EQ(tenMetres, records);
}

}  // namespace
