# Fails when the executable EXE carries test-only code: the names the test
# build's seam reads from the environment.
file(STRINGS "${EXE}" found REGEX "VEXO_(FAIL|FAIL_ALLOC|MISSING_DLL|SEAM_REPORT)")
if(found)
  message(FATAL_ERROR "${EXE} holds test-only code (${found}); build it with VEXO_TEST_SEAMS=OFF")
endif()
