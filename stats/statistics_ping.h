// The fire-and-forget statistics request.
#ifndef VEXO_STATS_STATISTICS_PING_H
#define VEXO_STATS_STATISTICS_PING_H

#include "base/platform.h"

class ProgressWindow;

enum StatisticsEvent {
  kStatisticsStart = 0,
  kStatisticsFailed = 1,
  kStatisticsFinished = 2,
};

// A ping ends within this long of its start, whatever the server or the
// network does (an answer that trickles in, silence, a slow name lookup,
// a host with many addresses).
constexpr DWORD kPingBoundMs = 10000;

// Sends one event to the compiled-in statistics server. True when the
// server answered. Callers ignore the result. The request runs on a
// thread of its own while the calling thread dispatches its messages; in
// the interactive modes window is the progress window, and its Cancel ends
// the ping at once (the caller then finds the window cancelled). The
// silent modes pass null.
bool SendStatisticsPing(int event, ProgressWindow* window);

#endif
