#include "present/picture_scale.h"

namespace kelvo {

int PictureScaleFor(double ADevicePixelRatio) {
  for (int scale : kPictureScales) {
    // A hair of tolerance: 144 dpi / 96 and a 1.5 scale factor must meet exactly.
    if (ADevicePixelRatio * 100.0 <= scale + 0.5) {
      return scale;
    }
  }
  return kPictureScales.back();
}

std::string ScaledPictureName(std::string_view AName, int AScale) {
  if (AScale == kPictureScales.front()) {
    return std::string(AName);
  }
  const std::size_t dot = AName.rfind('.');
  const std::string_view stem = dot == std::string_view::npos ? AName : AName.substr(0, dot);
  const std::string_view extension =
      dot == std::string_view::npos ? std::string_view() : AName.substr(dot);
  return std::string(stem) + '_' + std::to_string(AScale) + std::string(extension);
}

}  // namespace kelvo
