#include "Platform/Halt.h"

#include <cstdio>
#include <cstdlib>

void HALT() {
    std::fputs("HALT\n", stdout);
    std::fflush(stdout);
    std::exit(0);
}
