// Found before MinGW-w64's own <windows.h> in the product's MinGW build (see SdkMacros.h):
// after it, "min" and "max" are macros as the SDK defines them, unless NOMINMAX is defined.
#include_next <windows.h>
#ifndef NOMINMAX
#ifndef max
#define max(a, b) (((a) > (b)) ? (a) : (b))
#endif
#ifndef min
#define min(a, b) (((a) < (b)) ? (a) : (b))
#endif
#endif
