// wintrust for the host stand-in.
#ifndef VEXO_STANDIN_WINTRUST_H
#define VEXO_STANDIN_WINTRUST_H

#include "standin/types.h"

#endif
