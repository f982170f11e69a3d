#ifndef VEXO_STATS_OS_NAME_H
#define VEXO_STATS_OS_NAME_H

// A short fixed name of the running Windows version, never empty. The
// text is a constant of the program: nothing to free.
const char* GetOsName();

#endif
