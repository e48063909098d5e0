// Where windows go: a dialog centred on its owner window, frame on frame (not clamped to the
// screen, so a dialog taller than its owner still sits centred on it), and the main window kept
// on the screen's available area. Any thread.
#pragma once

namespace kelvo {

struct TRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

// AOwnerFrame and the result are outer (frame) rectangles; AWidth x AHeight is the dialog's
// outer size. Odd differences round toward the owner's top-left corner.
constexpr TRect CentredOn(const TRect& AOwnerFrame, int AWidth, int AHeight) {
  const auto half = [](int AValue) { return AValue >= 0 ? AValue / 2 : -((-AValue + 1) / 2); };
  return {AOwnerFrame.Left + half(AOwnerFrame.Width - AWidth),
          AOwnerFrame.Top + half(AOwnerFrame.Height - AHeight), AWidth, AHeight};
}

// The main window's frame as it may stand on a screen whose available area (without task bars
// and docks) is AAvailable: no larger than the area, and moved by as little as it takes to lie
// wholly on it. A frame that already fits is returned unchanged.
constexpr TRect FitOnScreen(const TRect& AFrame, const TRect& AAvailable) {
  const auto clamp = [](int AValue, int ALow, int AHigh) {
    return AValue < ALow ? ALow : (AValue > AHigh ? AHigh : AValue);
  };
  const int width = AFrame.Width < AAvailable.Width ? AFrame.Width : AAvailable.Width;
  const int height = AFrame.Height < AAvailable.Height ? AFrame.Height : AAvailable.Height;
  return {clamp(AFrame.Left, AAvailable.Left, AAvailable.Left + AAvailable.Width - width),
          clamp(AFrame.Top, AAvailable.Top, AAvailable.Top + AAvailable.Height - height), width,
          height};
}

}  // namespace kelvo
