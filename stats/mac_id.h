#ifndef VEXO_STATS_MAC_ID_H
#define VEXO_STATS_MAC_ID_H

#include <string>

// Twelve upper-case hex digits of the adapter behind the first NetBIOS
// LANA, or empty when that cannot be had.
std::string GetMacId();

#endif
