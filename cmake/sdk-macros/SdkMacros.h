// Forced into every product source of the MinGW build: the Windows SDK's "min" and "max"
// macros, which MinGW-w64 hides from C++, so that code the SDK would break fails here too.
#pragma once
// libstdc++ defines NOMINMAX for itself; only the build's own (or a source's) counts.
#ifdef NOMINMAX
#define QX_SDK_BUILD_NOMINMAX
#endif
// The whole C++ library first: MSVC's is written to survive the macros, libstdc++ is not.
#include <bits/stdc++.h>
#ifndef QX_SDK_BUILD_NOMINMAX
#undef NOMINMAX
#endif
