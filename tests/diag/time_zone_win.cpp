#include <cstdlib>
#include <ctime>

#include "diag/time_zone.h"

namespace kelvo::test {

TTimeZone::TTimeZone(const char* ATimeZone) {
  if (const char* Old = std::getenv("TZ")) {
    fPrevious = Old;
  }
  ::_putenv_s("TZ", ATimeZone);
  ::_tzset();
}

TTimeZone::~TTimeZone() {
  // An empty value removes the variable.
  ::_putenv_s("TZ", fPrevious ? fPrevious->c_str() : "");
  ::_tzset();
}

}  // namespace kelvo::test
