// The host stand-in for the Windows headers: the Win32 names, types and
// constants the installer uses, with fixed widths, backed by scriptable
// and recording implementations (see standin.h).
#ifndef VEXO_STANDIN_WIN32_H
#define VEXO_STANDIN_WIN32_H

#include "standin/types.h"
#include "standin/kernel32.h"
#include "standin/user32.h"
#include "standin/window.h"
#include "standin/gdi32.h"
#include "standin/advapi32.h"
#include "standin/shell32.h"
#include "standin/comctl32.h"
#include "standin/ole32.h"
#include "standin/urlmon.h"
#include "standin/wininet.h"
#include "standin/netapi32.h"
#include "standin/gdiplus.h"
#include "standin/wintrust.h"

#endif
