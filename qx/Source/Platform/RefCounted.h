#pragma once

#include <atomic>
#include <cstdint>

// Put first in the body of every Code_ class: declares its 32-bit reference count
// (the first data member after the bases) and the AddRef/Release pair over it.
#define QX_REFCOUNTED                        \
private:                                     \
    std::atomic<uint32_t> m_RefCount{0};     \
                                             \
public:                                      \
    uint32_t AddRef() override {             \
        return ++m_RefCount;                 \
    }                                        \
    uint32_t Release() override {            \
        const uint32_t count = --m_RefCount; \
        if (count == 0)                      \
            delete this;                     \
        return count;                        \
    }                                        \
                                             \
private:
