// advapi32 for the host stand-in.
#ifndef VEXO_STANDIN_ADVAPI32_H
#define VEXO_STANDIN_ADVAPI32_H

#include "standin/types.h"

#endif
