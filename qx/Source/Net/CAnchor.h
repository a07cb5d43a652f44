#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "Platform/Obj.h"

namespace _NET {

// Lets tasks and callbacks that hold no reference reach an object only while it lives: they
// keep a shared anchor instead of a plain pointer, and Lock hands them a handle, or an empty one
// once the object's count has reached 0 or its destructor has detached the anchor.
// T provides TryAddRef (see AddRefIfAlive).
template <typename T>
struct CAnchor {
    explicit CAnchor(T* object) : m_Object(object) {}

    _OBJ<T> Lock() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (!m_Object || !m_Object->TryAddRef())
            return {};
        _OBJ<T> handle(m_Object);
        m_Object->Release();  // the handle holds one reference from here
        return handle;
    }

    // First thing in the object's destructor.
    void Detach() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Object = nullptr;
    }

    // Adds a reference unless the count is already 0, i.e. the object is being destroyed.
    static bool AddRefIfAlive(std::atomic<uint32_t>& count) {
        uint32_t current = count.load();
        while (current != 0) {
            if (count.compare_exchange_weak(current, current + 1))
                return true;
        }
        return false;
    }

private:
    std::mutex m_Mutex;
    T* m_Object;
};

}  // namespace _NET
