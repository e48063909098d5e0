// The settings' window for a relay without one: it has no place on any screen, so saving
// leaves a stored "Top" and "Left" exactly as they are and never invents a position.
#pragma once

#include <cstdint>

#include "config/settings.h"

namespace kelvo {

class THeadlessWindow final : public TSettingsWindow {
 public:
  std::int32_t RestoredTop() const override { return fTop; }
  std::int32_t RestoredLeft() const override { return fLeft; }
  void SetTop(std::int32_t ATop) override { fTop = ATop; }
  void SetLeft(std::int32_t ALeft) override { fLeft = ALeft; }
  bool HasPlacement() const override { return false; }

 private:
  std::int32_t fTop = 0;
  std::int32_t fLeft = 0;
};

}  // namespace kelvo
