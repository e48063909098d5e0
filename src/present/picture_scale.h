// Which drawing of a picture a screen gets: every picture is drawn at 1x, 1.5x and 2x, and a
// window shows the smallest drawing that is at least as fine as its device pixels, so nothing is
// blown up (soft) and at most a little is scaled down. Any thread.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kelvo {

// The scales the pictures are drawn at, in percent.
inline constexpr std::array<int, 3> kPictureScales = {100, 150, 200};

// The drawing for ADevicePixelRatio device pixels per designed pixel (dpi / 96 on Windows).
int PictureScaleFor(double ADevicePixelRatio);

// The name of a picture's drawing at AScale percent: the 1x name itself, otherwise "_<scale>"
// before the extension, if any ("LEDRED" -> "LEDRED_150", "logo.png" -> "logo_200.png").
std::string ScaledPictureName(std::string_view AName, int AScale);

}  // namespace kelvo
