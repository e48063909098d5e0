#include <cstdlib>
#include <ctime>

#include "diag/time_zone.h"

namespace kelvo::test {

TTimeZone::TTimeZone(const char* ATimeZone) {
  if (const char* Old = std::getenv("TZ")) {
    fPrevious = Old;
  }
  ::setenv("TZ", ATimeZone, 1);
  ::tzset();
}

TTimeZone::~TTimeZone() {
  if (fPrevious) {
    ::setenv("TZ", fPrevious->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace kelvo::test
