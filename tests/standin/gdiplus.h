// gdiplus for the host stand-in.
#ifndef VEXO_STANDIN_GDIPLUS_H
#define VEXO_STANDIN_GDIPLUS_H

#include "standin/types.h"

#endif
