// The test build's seam (CMake option VEXO_TEST_SEAMS; the shipped build
// compiles none of it). Chosen through the environment at start-up:
//
//   VEXO_FAIL_ALLOC=N            the N-th heap allocation of the program fails
//   VEXO_FAIL=Name@B:error[:result[:nth]]
//                                the platform function Name (B bytes of
//                                arguments, as the linker decorates it) sets
//                                the last error and returns result (default
//                                0), on every call or only on the nth;
//                                imported functions and those looked up at
//                                run time alike. Several entries: ';'.
//   VEXO_MISSING_DLL=a.dll,b.dll libraries that cannot be loaded (error 126)
//   VEXO_MISSING_ENTRY=A,B       entry points the program's lookups do not
//                                find (error 127), as on older Windows
//   VEXO_HEAP_LIMIT=bytes        the program's blocks come from a full heap
//                                of their own with only this much room
//   VEXO_DOWNLOAD_UNWATCHED=1    the interactive modes download as the silent
//                                ones do (no progress; Cancel only seen by the
//                                installer's own checks)
//   VEXO_SEAM_REPORT=path        written at the end of the run: what is still
//                                outstanding, one "name=value" per line
//
// Outstanding counts: heap blocks, kernel handles the program opened
// (threads and events included), loaded libraries (with their names),
// device contexts, GDI objects, SIDs, certificate copies, Internet handles
// (sessions, connections, requests) and COM
// initialisations. Counts move atomically: the download and the pings
// have threads of their own. Also the texts drawn with DrawTextA (the status
// line), in order, " | " between them. And the trust interface the last
// verification asked WinVerifyTrust for (calls that only close one aside):
// 2 (none) also when no window may own it, 0 with no verification. And the
// access a folder was last created with (SDDL, its DACL).
#ifndef VEXO_TESTS_SEAM_SEAM_H
#define VEXO_TESTS_SEAM_SEAM_H

#if defined(VEXO_TEST_SEAMS)

#include "base/platform.h"

// Reads the environment and patches the program's import table.
void SeamInstall();
// Writes the report, if one was asked for.
void SeamReport(DWORD runStatus);
// The heap module's hooks: whether this allocation is to fail, and the
// count of blocks handed out and given back.
bool SeamFailAllocation();
void SeamCountBlock(int delta);
HANDLE SeamHeap();
bool SeamUnwatchedDownload();

#else
constexpr bool SeamUnwatchedDownload() { return false; }
#endif
#endif
