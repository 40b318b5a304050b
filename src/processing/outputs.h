// Point and beam outputs: the .K4P point record and the .K4B beam record of
// every processed ping, written to their files and sent as UDP datagrams to
// IPAddress_Output1:RemotePort_Output1, and the 32-byte keep-alive sent on a
// ping that sent nothing else. Also the output socket that external control
// listens on.
#pragma once

#include <cstdint>

#include "files/output_file.h"
#include "settings/constants.h"

constexpr int kRecordHeaderCommon = 112;       // header both records share
constexpr int kOutputHeaderBytes = 256;        // fixed part of either record
constexpr int kPointRecordMaxBytes = kOutputHeaderBytes + 4 * kMaxBeams;
constexpr int kBeamRecordMaxBytes = kOutputHeaderBytes + kMaxBeams * kMaxSamples;
constexpr int kKeepAliveBytes = 32;
constexpr int kMaxDatagramBytes = 64000;       // beam records go out in pieces of at most this
constexpr int kOutputNameBytes = 257;          // 256 characters and the terminator
constexpr int kStatusTextBytes = 320;
constexpr int kStatusMaxWidthPx = 497;         // status lines wider than this are shortened
constexpr int kCombinedOutputGapUs = 10000;    // beam datagram, then the point datagram after this

// Output types of DataOutputType.
enum DataOutputKind { kOutputNone = 0, kOutputPoints = 1, kOutputBeams = 2 };

struct OutputState {
  // ---- files: opened by the dialog, the command line or a conversion; closed by
  // the dialog, the end of a converted file, a run-mode change or shutdown
  // Each keeps its byte count and failure after the close until the next open.
  OutputFile pointFile;
  OutputFile beamFile;
  int pointFileOpen = 0;
  int beamFileOpen = 0;
  char pointFileName[kOutputNameBytes] = "";
  char beamFileName[kOutputNameBytes] = "";
  int64_t pointBytesWritten = 0;   // reset when the file is opened
  int64_t beamBytesWritten = 0;
  int pointWriteErrors = 0;        // short writes seen (the file stays open)
  int beamWriteErrors = 0;
  int pointCloseErrors = 0;        // closes that reported a lost write (failed flush or close)
  int beamCloseErrors = 0;

  // ---- per ping
  uint32_t outputCounter = 0;      // 0 when either file opens; +1 per ping with output
  uint32_t counterAtLastPing = 0;  // remembered at the end of each sequence
  int pointRecordBuilt = 0;        // cleared by BeginPingOutputs
  int pointRecordLength = 0;
  int beamRecordBuilt = 0;
  int beamRecordLength = 0;
  int sentThisPing = 0;            // set by every datagram send
  int bytesOut = 0;                // bytes of the last send, or its negative error code

  // ---- requests from external control
  int combinedOutputRequest = 0;   // send beams and points on every ping
  int eventMarkPending = 0;        // written once into the next point record
  double pingLatencyMs = 0.0;      // Head mode: request of the oldest contributing ping to output

  // ---- socket: opened at every run-mode switch; destination from the settings,
  // replaced by the sender of every control datagram
  int socket = -1;
  uint32_t destAddr = 0;           // host order
  int destPort = 0;
  int destValid = 0;               // the settings' address parsed
  int datagramsSent = 0;
  int keepAlivesSent = 0;
  int sendErrors = 0;

  // ---- recording status lines of the main window (redrawn when the kB change)
  char pointStatus[kStatusTextBytes] = "";
  char beamStatus[kStatusTextBytes] = "";
  int pointStatusKb = -1;
  int beamStatusKb = -1;
};
extern OutputState g_outputs;

// Closes files and socket and clears the state.
void ResetOutputs();

// ---------------------------------------------------------------- records
// The record layouts, built from the ping that was just processed:
// g_beamGeom, the profile output arrays, g_settings, the time stamp and
// navigation of the cycle (Head mode) or of the played record (File mode).
// Both return the record length.
int BuildPointRecord(uint8_t* out, int outSize);
int BuildBeamRecord(uint8_t* out, int outSize, int displayMode);
// The point record of this ping in the module's buffer, built at most once
// per ping. Returns its length.
int PointRecord(const uint8_t** record);
void FillKeepAlive(uint8_t out[kKeepAliveBytes]);

// ---------------------------------------------------------------- files
// Creates (replacing) the file; the name is lower-cased and must end in
// .k4p / .k4b. Returns 1 when open. A wrong extension shows its message.
int OpenPointFile(const char* path);
int OpenBeamFile(const char* path);
// The same behind the save dialog. Returns 1 when a file was opened.
int ChoosePointFile();
int ChooseBeamFile();
// Return 0 when the file lost a write: a short write, a failed flush or a
// failed close (counted in the close errors). 1 also when nothing was open.
int ClosePointFile();
int CloseBeamFile();
// Return 1 when the whole record was written, 0 when none is open or the
// write failed (counted in the write errors).
int WritePointRecord();
int WriteBeamRecord(int displayMode);
// 1 when the file open now, or the last one closed, lost a write.
int PointFileFailed();
int BeamFileFailed();

// ---------------------------------------------------------------- socket
// Opens the output socket and takes IPAddress_Output1 / RemotePort_Output1
// as the destination. Returns 1 when the socket is open.
int OpenOutputSocket();
void CloseOutputSocket();
// A control datagram came from this sender: later output goes there.
void SetOutputDestination(uint32_t hostOrderAddr, int port);
int SendPointDatagram();
int SendBeamDatagram(int displayMode);
int SendKeepAlive();

// ---------------------------------------------------------------- per ping
// The output sequence of one processed ping, in its fixed order; displayMode
// is the mode the ping was drawn in (4: Beam Test sends only the keep-alive).
// The XTF ping is written in its place when an XTF file is open.
void RunOutputSequence(int displayMode);

// ---------------------------------------------------------------- status text
// "Recording to %s - %d kB", shortened to fit kStatusMaxWidthPx by dropping
// leading path components. widthPx measures a text (nullptr: a fixed
// average character width).
void FormatRecordingStatus(char* out, int outSize, const char* path, int kiloBytes,
                           int (*widthPx)(const char*));
int EstimateTextWidthPx(const char* text);

