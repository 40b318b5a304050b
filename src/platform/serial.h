// Serial ports on Linux: the list of present ports, opening one with the
// line settings of the "ComPort Setup" indexes, reads that wait with a time
// limit, and a reader thread that hands every received byte run to a
// callback. Plain termios; no library.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

struct termios;

namespace serial {

constexpr int kMaxPorts = 32;       // as many as the port drop-down offers
constexpr int kPathChars = 128;     // longest device path kept
constexpr int kReadChunk = 128;     // bytes per read, as the input buffer
constexpr int kReadWaitMs = 100;    // a reader's Stop returns within this and a callback

// Present ports in the order the drop-downs show them: /dev/serial/by-id/*
// (sorted), then /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS* (each sorted by
// number) whose device answers a line-settings query and is not already
// reached through a by-id link.
struct PortList {
  int count = 0;
  char paths[kMaxPorts][kPathChars] = {};
};

// Fills the list; returns the count.
int ListPorts(PortList* out);

// Line settings as the settings file keeps them: indexes into
// 4800 ... 115200 bit/s, 5 ... 8 data bits, even/odd/none parity, 1/2 stop bits.
struct LineSettings {
  int bitsPerSecondIndex = 0;
  int dataBitsIndex = 3;
  int parityIndex = 2;
  int stopBitsIndex = 0;
};
// 4800 ... 115200, or 0 for an index out of range.
int BitsPerSecond(int index);

// Writes the line settings into a termios record taken from the device: raw,
// receiver on, modem lines ignored, parity checking when parity is used, no
// read minimum. Returns 0 for an index out of range (t unchanged then).
[[nodiscard]] int ApplyLineSettings(struct termios* t, const LineSettings& settings);

struct Port {
  int fd = -1;                 // open descriptor, -1 when closed; set by Open, cleared by Close
  int savedValid = 0;          // the line settings found at open were saved
  alignas(8) unsigned char saved[64] = {};  // those settings (struct termios), restored by Close
  int dtrRaised = 0;           // DTR was raised after open (not every device has modem lines)
};

// Opens the device for reading and writing without becoming its controlling
// terminal, exclusively (kernel exclusive mode and an advisory lock, which
// also holds between root processes), saves its line settings and applies the given ones
// (raw, receiver on, modem lines ignored, parity checking when parity is
// used), then raises DTR. Returns 1, or 0 with the port closed.
[[nodiscard]] int Open(Port* port, const char* path, const LineSettings& settings);
// Waits at most timeoutMs for bytes; returns their count, 0 on time-out, -1
// when the device has gone (hang-up or error).
int Read(Port* port, uint8_t* buf, int capacity, int timeoutMs);
// Writes all bytes or returns 0 (used by tests and probes that take commands).
int Write(Port* port, const uint8_t* buf, int count);
// Lowers DTR, drops what is queued either way, restores the saved line
// settings and closes. Safe on a closed port.
void Close(Port* port);

// A port with a thread that reads it until Stop. The callback runs on the
// reader thread with every run of bytes received.
using BytesHandler = void (*)(const uint8_t* bytes, int count, void* context);

struct Reader {
  Port port;
  std::thread thread;             // started by StartReader, joined by StopReader
  std::atomic<int> running{0};    // set by StartReader, cleared by StopReader
  std::atomic<long> bytesRead{0}; // counted by the reader thread
  std::atomic<int> deviceLost{0}; // set by the reader thread when the device went away
  BytesHandler handler = nullptr;
  void* context = nullptr;
};

// Opens the port and starts the reader thread. Returns 1, or 0 when the port
// cannot be opened or configured (nothing is started then).
[[nodiscard]] int StartReader(Reader* reader, const char* path, const LineSettings& settings,
                              BytesHandler handler, void* context);
// Stops the thread (within kReadWaitMs plus one callback) and closes the port.
void StopReader(Reader* reader);

}  // namespace serial
