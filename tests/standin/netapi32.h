// netapi32 for the host stand-in.
#ifndef VEXO_STANDIN_NETAPI32_H
#define VEXO_STANDIN_NETAPI32_H

#include "standin/types.h"

#endif
