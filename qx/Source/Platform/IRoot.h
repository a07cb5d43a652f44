#pragma once

#include <cstdint>

// Root of every non-widget object of the system. Holds no data; each implementing
// class keeps its own reference count (see QX_REFCOUNTED in RefCounted.h).
struct IRoot {
    virtual int Zero() { return 0; }
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
};
