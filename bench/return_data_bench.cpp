// Per-ping costs of the head link and the .K41 file: assembling and decoding
// a ping, descrambling, formatting a record, reading one back and scanning
// for the next record start.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "settings/settings.h"

namespace {

std::vector<std::vector<uint8_t>> MakePackets(int type) {
  std::mt19937 rng(1);
  std::vector<std::vector<uint8_t>> packets;
  for (int k = 0; k < kDataTypes[type].packetsPerPing; ++k) {
    std::vector<uint8_t> p(kReturnPacketBytes);
    for (auto& b : p) b = static_cast<uint8_t>(rng());
    p[0] = 'I';
    p[1] = static_cast<uint8_t>(kDataTypes[type].letter);
    p[2] = 'X';
    p[5] = static_cast<uint8_t>(k);
    p[6] = 0x03;
    p[7] = 30;
    p[9] = 0;
    p[kReturnPacketBytes - 1] = kEndByte;
    packets.push_back(p);
  }
  return packets;
}

void Prepare(int type) {
  g_settings = Settings{};
  ResetSwitchState();
  ResetReturnData();
  ResetNavState();
  ResetPlaybackCopies();
  g_switch.dataType = type;
  (void)TakeDataTypeSetting();
}

void BM_AssembleAndDecodePing(benchmark::State& state) {
  const int type = static_cast<int>(state.range(0));
  Prepare(type);
  const auto packets = MakePackets(type);
  double t = 1.0;
  for (auto _ : state) {
    for (const auto& p : packets) benchmark::DoNotOptimize(AssemblePacket(p.data(), kReturnPacketBytes));
    benchmark::DoNotOptimize(DecodePingAt(t += 0.1));
    FinishPing();
  }
}
BENCHMARK(BM_AssembleAndDecodePing)->Arg(0)->Arg(1)->Arg(3);

void BM_DescrambleV(benchmark::State& state) {
  std::vector<uint8_t> data(16000, 0x5A);
  for (auto _ : state) {
    DescrambleElementData(data.data(), 16);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DescrambleV);

void BM_FormatRecord(benchmark::State& state) {
  const int type = static_cast<int>(state.range(0));
  Prepare(type);
  for (const auto& p : MakePackets(type)) (void)AssemblePacket(p.data(), kReturnPacketBytes);
  static uint8_t out[kRecordBufferBytes];
  for (auto _ : state) benchmark::DoNotOptimize(FormatRecord(out, sizeof out, 0));
}
BENCHMARK(BM_FormatRecord)->Arg(0)->Arg(3);

// A 4 MB file of 'U' records held in memory.
std::vector<uint8_t> MakeFile(int records) {
  Prepare(0);
  for (const auto& p : MakePackets(0)) (void)AssemblePacket(p.data(), kReturnPacketBytes);
  std::vector<uint8_t> file(static_cast<size_t>(records) * 8192);
  for (int i = 0; i < records; ++i) (void)FormatRecord(file.data() + i * 8192, 8192, 0);
  return file;
}

void BM_ReadRecordU(benchmark::State& state) {
  std::vector<uint8_t> file = MakeFile(512);
  FILE* f = fmemopen(file.data(), file.size(), "rb");
  for (auto _ : state) {
    if (ReadNextRecord(f) != kReadRecord) std::rewind(f);
  }
  std::fclose(f);
}
BENCHMARK(BM_ReadRecordU);

// The fast-playback step: skip 160 KiB, then scan to the next record start.
void BM_FastSkipScan(benchmark::State& state) {
  std::vector<uint8_t> file = MakeFile(512);
  FILE* f = fmemopen(file.data(), file.size(), "rb");
  int64_t pos = 0;
  for (auto _ : state) {
    pos += kFastSkipBytes + 1000;
    if (pos >= static_cast<int64_t>(file.size())) pos = 0;
    benchmark::DoNotOptimize(ScanForRecord(f, pos));
  }
  std::fclose(f);
}
BENCHMARK(BM_FastSkipScan);

}  // namespace
