#ifndef VEXO_STATS_OS_NAME_H
#define VEXO_STATS_OS_NAME_H

#include <string>

// A short fixed name of the running Windows version, never empty.
std::string GetOsName();

#endif
