// urlmon for the host stand-in.
#ifndef VEXO_STANDIN_URLMON_H
#define VEXO_STANDIN_URLMON_H

#include "standin/types.h"

#endif
