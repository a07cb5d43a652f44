#pragma once

#include <mutex>
#if defined(__GLIBC__)
#include <pthread.h>
#endif

namespace _OS {

// A mutex for short critical sections under contention: with glibc it spins briefly before it
// sleeps in the kernel, where a plain mutex goes to sleep at once; elsewhere it is std::mutex
// (whose Windows lock spins by itself). The spin is bounded, so a waiter at a real-time
// priority cannot starve the holder.
#if defined(__GLIBC__)
struct CAdaptiveMutex {
    CAdaptiveMutex() {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
        pthread_mutex_init(&m_Mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    ~CAdaptiveMutex() { pthread_mutex_destroy(&m_Mutex); }
    CAdaptiveMutex(const CAdaptiveMutex&) = delete;
    CAdaptiveMutex& operator=(const CAdaptiveMutex&) = delete;

    void lock() { pthread_mutex_lock(&m_Mutex); }
    bool try_lock() { return pthread_mutex_trylock(&m_Mutex) == 0; }
    void unlock() { pthread_mutex_unlock(&m_Mutex); }

private:
    pthread_mutex_t m_Mutex;
};
#else
using CAdaptiveMutex = std::mutex;
#endif

}  // namespace _OS
