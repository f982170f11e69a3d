// Compiled-in values for the unit tests.
#include "driver/build_config.h"

const char kStatisticsBaseUrl[] = "http://stats.test";
const char kModeString[] = "/s";
const int kOptionSelector = 0;
