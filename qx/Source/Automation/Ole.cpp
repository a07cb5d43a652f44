#include "Automation/Ole.h"

#ifdef _WIN32
#include <ole2.h>

void _OS::OleInitialize(void* reserved) {
    ::OleInitialize(reserved);
}
#else
void _OS::OleInitialize(void*) {}
#endif
