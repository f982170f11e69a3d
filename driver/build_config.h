#ifndef VEXO_DRIVER_BUILD_CONFIG_H
#define VEXO_DRIVER_BUILD_CONFIG_H

// Compiled-in configuration. The executable's values come from the build;
// the unit tests define their own.
extern const char kStatisticsBaseUrl[];  // scheme and host, no path
extern const char kModeString[];         // "/s", "/s /u", "/u", "/u /s"
extern const int kOptionSelector;        // 0 none, 1 help, 2 verify, 3 admin

#endif
