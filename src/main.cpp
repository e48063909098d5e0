// KelvoRelay: the window by default, --headless for machines without a display.
#include <cstdio>

int main() {
  std::puts("KelvoRelay: the relay is being built.");
  return 0;
}
