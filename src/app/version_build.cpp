// Without a version resource the file version is the project version CMake compiles in.
#include "app/version.h"

namespace kelvo {

std::string FileVersionText() {
  return KELVO_VERSION;
}

}  // namespace kelvo
