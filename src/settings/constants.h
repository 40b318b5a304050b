// Fixed sizes of the program's global buffers. Every array that holds per-ping
// data is dimensioned by one of these, with the count in use kept beside it.
#pragma once

constexpr int kElements = 16;          // receive elements of the head
constexpr int kMaxBeams = 540;         // formed beams, the most any beam count scales to
constexpr int kMaxSamples = 1010;      // samples per element / per beam row
constexpr int kImageWidth = 1012;      // main picture, pixels
constexpr int kImageHeight = 542;
constexpr int kRangeSteps = 17;        // entries of the range table
constexpr int kSwitchCommandBytes = 27;
constexpr int kReturnPacketBytes = 1033;
constexpr int kPacketDataBytes = 1000;
constexpr int kRecordBufferBytes = 32768;  // largest ping record / file record

// The main window's title, and the start of every title that carries state.
constexpr const char* kProductTitle = "Orvale Multibeam Sonar";
