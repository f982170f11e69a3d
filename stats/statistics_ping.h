// The fire-and-forget statistics request.
#ifndef VEXO_STATS_STATISTICS_PING_H
#define VEXO_STATS_STATISTICS_PING_H

#include "base/platform.h"

enum StatisticsEvent {
  kStatisticsStart = 0,
  kStatisticsFailed = 1,
  kStatisticsFinished = 2,
};

// Sends one event to the compiled-in statistics server. True when the
// server answered with a request handle. Callers ignore the result.
bool SendStatisticsPing(int event);
// The same, against a given base URL (scheme and host).
bool SendStatisticsPingTo(const char* baseUrl, int event);

#endif
