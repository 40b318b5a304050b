// External control: a remote program drives the console with fixed-layout
// UDP datagrams on the output socket (processing/outputs), and every datagram
// also makes its sender the destination of all later output. Fields that
// differ from the console's state are applied one by one, as a menu command
// would, under the console lock. The "External Control" and "XMIT Disabled"
// status boxes are kept here as state the painter reads.
#pragma once

#include <cstdint>

constexpr int kControlDatagramBytes = 256;  // longer datagrams are cut to this
constexpr int kControlBoxPings = 10;        // "External Control" box lasts this many pings
constexpr int kAllowListMax = 16;           // entries of ExternalControlAllow kept

// What happened to one field of a datagram.
enum ControlFieldResult {
  kFieldUnchanged = 0,  // equal to the console's value: nothing to do
  kFieldApplied,        // taken into use now
  kFieldQueued,         // taken, applied by the next processed ping
  kFieldRejected,       // outside its accepted values
  kFieldLiveOnly,       // a live-head field while a file plays
  kFieldNotApplied,     // its effect could not be carried out (a recording that cannot start)
  kFieldAbsent,         // the datagram ended before the field
};

struct ExternalControlState {
  // ---- written by ApplyControlDatagram (user-interface thread, console lock held)
  int lastByte3 = -1;            // last control-flags byte; -1 so the first datagram applies
  int lastByte4 = -1;            // last transmit/window byte; -1 likewise
  int enabled = 0;               // byte 3 bit 0 of the latest datagram that changed byte 3
  int mainWindowHidden = 0;      // byte 4 bit 1
  int menuChecksChanged = 0;     // check marks moved by a datagram (tests, diagnostics)

  // ---- status boxes the painter draws; set by apply, counted down by
  // ExternalControlAfterPing (ping cycle, console lock held)
  int boxShown = 0;              // "External Control" box visible
  int boxPingsLeft = 0;          // processed pings until the box is erased
  int boxRestarts = 0;           // datagrams that (re)started the box timer
  int xmitBoxShown = 0;          // "XMIT Disabled" in its visible blink phase
  int xmitLastSecond = -1;       // local-time second of the last blink toggle
  int xmitToggles = 0;

  // ---- a speed of sound for the next processed ping (Head mode); set by
  // apply, cleared by ExternalControlBeforePing
  int soundVelocityQueued = 0;
  double queuedSoundVelocity = 0.0;

  // ---- the allow-list parsed from ExternalControlAllow (re-read when the
  // text changes); written under the console lock
  char allowText[96] = "";
  int allowParsed = 0;           // allowText holds what the entries came from
  int allowCount = 0;            // 0: every sender is served
  uint32_t allowAddr[kAllowListMax] = {};
  uint32_t allowMask[kAllowListMax] = {};
  int allowBadEntries = 0;       // entries that did not parse (ignored)

  // ---- counters
  long datagramsReceived = 0;    // through PollExternalControl or ApplyControlDatagram
  long datagramsIgnored = 0;     // from senders outside the allow-list
  long datagramsOff = 0;         // stopped by byte 3 bit 0 = 0
  long receiveErrors = 0;        // receives that failed other than "nothing waits"
  long fieldsApplied = 0;
  long fieldsQueued = 0;
  long fieldsRejected = 0;
  long fieldsLiveOnly = 0;
  long fieldsNotApplied = 0;
  uint32_t lastSenderAddr = 0;   // host order
  int lastSenderPort = 0;
};
extern ExternalControlState g_extControl;

void ResetExternalControl();

// One control datagram from sender addr:port (host order). Takes the console
// lock. A sender outside the allow-list is counted and changes nothing;
// otherwise it becomes the output destination and the datagram is applied
// field by field. Returns the number of fields applied or queued (the
// control bytes 3 and 4 included).
int ApplyControlDatagram(const uint8_t* data, int length, uint32_t senderAddr, int senderPort);

// Receives and applies every datagram waiting on the output socket, without
// blocking. Returns the number of datagrams received.
int PollExternalControl();

// The result of the field at `offset` in the last applied datagram
// (kFieldAbsent for an offset no field starts at).
int LastFieldResult(int offset);

// 1 when the sender may command the console under ExternalControlAllow.
int ExternalSenderAllowed(uint32_t hostOrderAddr);
// Parses "a.b.c.d, e.f.g.h/nn" into the allow-list. Returns the number of
// entries taken; entries that do not parse are counted and skipped.
int ParseAllowList(const char* text);

// Ping-cycle hooks (console lock held). Before: a queued speed of sound is
// taken into use. After: the box timer counts down and, in Head mode, the
// "XMIT Disabled" box blinks.
void ExternalControlBeforePing();
void ExternalControlAfterPing();
