// Where a dialog goes: centred on its owner window, frame on frame. Nothing is clamped to the
// screen, so a dialog taller than its owner still sits centred on it. Any thread.
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

}  // namespace kelvo
