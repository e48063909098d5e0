// The window pictures in the drawing that suits the screen (1x, 1.5x or 2x, see
// present/picture_scale.h), marked with their device pixel ratio so they keep their designed
// size on the window. GUI thread only.
#pragma once

#include <QPixmap>
#include <QString>

namespace kelvo {

// The highest device pixel ratio among the screens: a picture drawn for it is sharp on all of
// them.
qreal PictureDevicePixelRatio();
// AName is the 1x resource name ("LEDRED", "logo.png"); the 1x drawing stands in for one that
// is missing.
QPixmap LoadPicture(const QString& AName, qreal ADevicePixelRatio = PictureDevicePixelRatio());

}  // namespace kelvo
