#ifndef VEXO_STATS_MAC_ID_H
#define VEXO_STATS_MAC_ID_H

#include <stddef.h>

constexpr size_t kMacIdChars = 20;

// Writes twelve upper-case hex digits of the adapter behind the first
// NetBIOS LANA into text (kMacIdChars), or an empty text when that cannot
// be had.
void GetMacId(char (&text)[kMacIdChars]);

#endif
