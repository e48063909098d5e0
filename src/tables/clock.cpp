#include "tables/clock.h"

namespace kelvo {

namespace {

class TSystemClock final : public TClock {
 public:
  TTimePoint Now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace

const TClock& SystemClock() {
  // Stateless, so one shared instance serves every thread.
  static const TSystemClock instance;
  return instance;
}

}  // namespace kelvo
