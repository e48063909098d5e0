// Sets the C runtime's time zone (TZ) for one scope and puts the previous one back.
#pragma once

#include <optional>
#include <string>

namespace kelvo::test {

class TTimeZone {
 public:
  explicit TTimeZone(const char* ATimeZone);
  ~TTimeZone();
  TTimeZone(const TTimeZone&) = delete;
  TTimeZone& operator=(const TTimeZone&) = delete;

 private:
  std::optional<std::string> fPrevious;
};

}  // namespace kelvo::test
