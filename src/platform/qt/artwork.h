// The console's own artwork, drawn in code: the splash picture, the logo,
// the application icon, the HOLD button and the picture's cross-hair cursor.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

class QPainter;

namespace plat::qt {

// Fonts of the console: a serif for titles and numbers, a sans for labels.
constexpr const char* kSerifFont = "Liberation Serif";
constexpr const char* kSansFont = "Liberation Sans";

QPixmap SplashPixmap();
// The logo in a w x h box: a small fan of beams and the product name.
void DrawLogo(QPainter& p, int x, int y, int w, int h);
QIcon AppIcon();
// The 15 x 15 HOLD button with its top left corner at (x, y).
void DrawHoldButton(QPainter& p, int x, int y, int held);
QCursor CrossHairCursor();

}  // namespace plat::qt
