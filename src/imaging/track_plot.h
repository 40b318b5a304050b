// The "Track Plotter" window's picture: a 276 x 240 byte picture with its
// own colour table, drawn from the track ring (nav/track) and handed to the
// painter through the frame hand-off, as the waterfall windows are. The
// grid with its "%d M/DIV" label, the vessel's track (3 pixels wide), the
// swath coverage lines and the 7 x 7 vessel marker with the pixels saved
// from under it; a marker that comes within 10 pixels of an edge recentres
// the plot on the current fix.
#pragma once

#include <array>
#include <cstdint>

#include "nav/track.h"

constexpr int kTrackPlotWidth = kTrackWindowWidth;
constexpr int kTrackPlotHeight = kTrackWindowHeight;
constexpr int kTrackMarkerSize = 7;

// Colour indices of the plot's own colour table.
enum TrackPlotColour : uint8_t {
  kTrackBackground = 0,
  kTrackGridColour,
  kTrackLabelColour,
  kTrackLineColour,
  kTrackMarkerColour,
  kTrackSwathColour,
  kTrackLoadedSwathColour,
  kTrackLoadedLineColour,
  kTrackColourCount
};

// The plot's colour table (0x00RRGGBB). Part of the record's initial state,
// so a program that never resets the module still paints in colour.
constexpr std::array<uint32_t, 256> TrackPlotColours() {
  std::array<uint32_t, 256> c{};
  auto rgb = [](uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; };
  c[kTrackBackground] = rgb(0, 0, 0);
  c[kTrackGridColour] = rgb(38, 60, 78);
  c[kTrackLabelColour] = rgb(200, 200, 200);
  c[kTrackLineColour] = rgb(250, 214, 40);
  c[kTrackMarkerColour] = rgb(240, 48, 48);
  c[kTrackSwathColour] = rgb(40, 170, 250);
  c[kTrackLoadedSwathColour] = rgb(30, 110, 160);
  c[kTrackLoadedLineColour] = rgb(160, 140, 40);
  return c;
}

// Every field is written under the console lock: by the ping cycle's
// per-ping update (Head mode: the acquisition thread; File mode: the
// user-interface thread), by the commands, the window's clicks and the
// user-interface thread's watch timer. The painter never reads this record;
// it paints plat::LatestFrame(kWinTrackPlotter).
struct TrackPlotState {
  int drawn = 0;               // the picture holds a whole plot; cleared by reset
  int zoomDrawn = -1;          // TrackPlotterZoom the picture was drawn at
  int swathDrawn = -1;         // DisplaySwathCoverage the picture was drawn with
  uint64_t entriesDrawn = 0;   // g_track.written when the picture last took the ring
  int markerShown = 0;         // the marker is on the picture, `saved` holds what it covers
  int markerX = 0, markerY = 0;  // its centre pixel
  uint8_t saved[kTrackMarkerSize * kTrackMarkerSize] = {};
  int fullDraws = 0;           // whole plots drawn (tests, diagnostics)
  int segmentsDrawn = 0;       // track segments added by the updates
  int published = 0;           // pictures handed to the painter
  std::array<uint32_t, 256> colours = TrackPlotColours();  // never changes
  uint8_t pixels[kTrackPlotWidth * kTrackPlotHeight] = {};  // top-down rows
};
extern TrackPlotState g_trackPlot;

void ResetTrackPlot();

// Hands the console's choices to the track (glitch limit of the run mode,
// swath coverage shown, course or heading): the ping cycle and every command.
void SyncTrackOptions();

// The whole plot drawn anew and published (window shown, zoom, recentring,
// clear, load). Returns 1 when published.
int DrawTrackPlot();
// What the ring gained since the last picture: new segments and the marker,
// or the whole plot when the track asks for it (cleared, recentred, loaded)
// or the zoom or swath choice changed. Nothing happens while the window is
// not shown or nothing changed. Never waits for the painter. Returns 1 when
// a picture was published.
int UpdateTrackPlot();

// The menu and the window: show or hide (TrackPlotterWindow follows),
// "&Clear Track Plotter" (only while shown), the log loaded with its
// progress box from the working directory, and the zoom clicks (left in,
// right out, within 0..11), which redraw the plot.
void ShowTrackPlotter(int shown);
void ClearTrackPlotter();
int LoadSwathCoverage(const char* directory);
int TrackPlotterClick(int leftButton);

// The plot's text font (5 x 7 cells): digits, ' ', 'M', '/', 'D', 'I', 'V'.
// Draws into `pixels` (width x height) and returns the columns used.
int DrawTrackText(uint8_t* pixels, int width, int height, int x, int y, const char* text, uint8_t colour);
