#include "ui_qt/gui_resources.h"

#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE declares a function and must therefore stand outside any namespace.
static void InitKelvoQrc() {
  Q_INIT_RESOURCE(kelvo);
}

namespace kelvo {

void InitGuiResources() {
  static std::once_flag once;
  std::call_once(once, InitKelvoQrc);
}

}  // namespace kelvo
