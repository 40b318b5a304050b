// Dragging the Profile depth gate lines with the mouse: a press on (or within
// a few rows of) the minimum or maximum depth line takes that line, each
// move sets `ProfileMinDepthBelowSonar` or `ProfileMaxDepthBelowSonar` from
// the row under the cursor, held to the limits the Profile Point Setup
// dialog enforces, and redraws the grid and the lines at once; the release
// ends the drag and writes the settings file.
#pragma once

enum DepthGateLine { kGateNone = 0, kGateMin = 1, kGateMax = 2 };

struct DepthGateDrag {
  int line = kGateNone;  // the line being dragged; set by the press, cleared by the release
  int moves = 0;         // depth changes made by this drag
};
extern DepthGateDrag g_depthGate;  // user-interface thread, under the console lock

void ResetDepthGate();

// Rows of the picture within which a press takes a line.
constexpr int kGateGrabRows = 3;

// The line a press at window point (x, y) would take: Profile mode with
// detection on, over the picture shown, near a line's remembered row.
int DepthGateAt(int x, int y);
// Depth below the sonar (metres) of a row of the Profile picture; the
// inverse of the overlay's ProfileRowOfDepth.
double DepthOfProfileRow(double row);

// Press: takes the line under the cursor; 1 when a drag began.
int DepthGateDragBegin(int x, int y);
// Move: the dragged line follows the cursor's row within its limits; 1 when
// the depth changed (the picture was redrawn and handed to the screen).
int DepthGateDragTo(int x, int y);
// Release: ends the drag; writes the settings file when the drag changed a depth.
void DepthGateDragEnd();
