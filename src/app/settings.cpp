#include "app/settings.h"

Settings &settings() {
  static Settings s;
  return s;
}
