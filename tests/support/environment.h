// Unsetting an environment variable in a test, on either platform.
#pragma once

#include <cstdlib>

inline void UnsetEnvironment(const char* name) {
#if defined(_WIN32)
  _putenv_s(name, "");  // an empty value removes the variable
#else
  unsetenv(name);
#endif
}
