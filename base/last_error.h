// The reason a platform call failed, as a run status.
#ifndef VEXO_BASE_LAST_ERROR_H
#define VEXO_BASE_LAST_ERROR_H

#include "base/platform.h"

// GetLastError() after a failed call. A failure that left no reason is
// still a failure, never a success.
inline DWORD LastErrorOfFailure() {
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_FUNCTION_FAILED;
}

#endif
