#include "settings_home.h"
#include "temp_config_home.h"

namespace kelvo::test {

struct TSettingsHome::TImpl {
  TTempConfigHome Home;
};

TSettingsHome::TSettingsHome() : fImpl(std::make_unique<TImpl>()) {}
TSettingsHome::~TSettingsHome() = default;

std::filesystem::path TSettingsHome::Dir() const {
  return fImpl->Home.Dir();
}

}  // namespace kelvo::test
