// The three lamp pictures, "LEDRED", "LEDGREEN" and "LEDGRAY", and which one a lamp colour
// shows. TPicture is the front-end's picture type; the front-end loads each one by name.
// GUI thread only.
#pragma once

#include "relay/relay_view.h"

namespace kelvo {

template <typename TPicture>
class TLampPictures {
 public:
  // ALoad(const char* AName) returns the picture of that resource name (or throws).
  template <typename TLoad>
  explicit TLampPictures(TLoad ALoad)
      : fLedRED(ALoad("LEDRED")), fLedGreen(ALoad("LEDGREEN")), fLedGray(ALoad("LEDGRAY")) {}

  // Any colour outside the three shows grey, as an unlit lamp does.
  const TPicture& Picture(TLedColor AColor) const {
    switch (AColor) {
      case TLedColor::Red:
        return fLedRED;
      case TLedColor::Green:
        return fLedGreen;
      case TLedColor::Gray:
        break;
    }
    return fLedGray;
  }

 private:
  TPicture fLedRED;
  TPicture fLedGreen;
  TPicture fLedGray;
};

}  // namespace kelvo
