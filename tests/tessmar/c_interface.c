/* The interface header is plain C: this file is compiled as C and calls the
 * entry points under their unmangled names. */
#include "tessmar/include/tessmar.h"

int TessmarCallsFromC(void) {
  TessmarStatus status;
  int ok = sizeof(TessmarStatus) == 220 && sizeof(AudioStreamInfo) == 16;
  ok = ok && Tessmar(0, 0, 0, 0, &status) == 1;
  ok = ok && TessmarSuspend(0) == 1 && TessmarResume(0) == 1 && TessmarStop(0) == 1;
  ok = ok && qmRebuild(0, 0, 0, 0, 0, 0, 1, 0) == 1; /* nothing wanted */
  return ok;
}
