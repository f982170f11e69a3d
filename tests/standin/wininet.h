// wininet for the host stand-in.
#ifndef VEXO_STANDIN_WININET_H
#define VEXO_STANDIN_WININET_H

#include "standin/types.h"

#endif
