// comctl32 for the host stand-in: class registration and the progress
// bar's messages.
#ifndef VEXO_STANDIN_COMCTL32_H
#define VEXO_STANDIN_COMCTL32_H

#include <vector>

#include "standin/types.h"

#define ICC_PROGRESS_CLASS 0x00000020
#define ICC_STANDARD_CLASSES 0x00004000
#define PROGRESS_CLASSA "msctls_progress32"
#define PBM_SETPOS (0x0400 + 2)
#define PBM_DELTAPOS (0x0400 + 3)
#define PBM_SETRANGE32 (0x0400 + 6)
#define PBM_GETPOS (0x0400 + 8)

typedef struct tagINITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);

namespace standin {

struct Comctl32State {
  std::vector<INITCOMMONCONTROLSEX> registrations;
};
Comctl32State& Comctl32();

}  // namespace standin

#endif
