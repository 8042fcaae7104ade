/* The header must stand alone in a C11 translation unit and link. */
#include "dspfx/dspfx.h"

#include <stdio.h>

int main(void) {
  void* p = fastmemAlloc(64);
  int ok = p != NULL && ((uintptr_t)p % 16u) == 0 && fastmemFree(p) == 1 && dspPcmDecode() == 0 &&
           dspGetVersion() != 0 && dspErrorString(DSP_ERROR_NO_MEMORY) != NULL &&
           setResamplerQuality(NULL, 2) == 0 && setHqupsQuality(NULL, 2) == 0;
  /* The mode extensions link from C and refuse a null handle. */
  ok = ok && setStretchMode(NULL, 1) == 0 && setPitchShiftMode(NULL, 1) == 0 &&
       setStretchAlignedTimes(NULL, 0, 0, 0) == 0 && setPitchShiftAlignedTimes(NULL, 0, 0, 0) == 0;
  if (!ok) {
    fprintf(stderr, "C client could not use the library\n");
    return 1;
  }
  return 0;
}
