#pragma once

#include <utility>

#include "Platform/Halt.h"

// Handle through which objects are held and passed: one reference per non-empty handle.
// The empty handle stands for no object; factories return it when creation fails.
template <typename T>
class _OBJ {
public:
    _OBJ() = default;
    _OBJ(std::nullptr_t) {}
    _OBJ(T* p) : m_P(p) {
        if (m_P)
            m_P->AddRef();
    }
    _OBJ(const _OBJ& other) : _OBJ(other.m_P) {}
    _OBJ(_OBJ&& other) noexcept : m_P(std::exchange(other.m_P, nullptr)) {}
    template <typename U>
    _OBJ(const _OBJ<U>& other) : _OBJ(other.get()) {}
    ~_OBJ() {
        if (m_P)
            m_P->Release();
    }

    _OBJ& operator=(const _OBJ& other) {
        _OBJ(other).swap(*this);
        return *this;
    }
    _OBJ& operator=(_OBJ&& other) noexcept {
        _OBJ(std::move(other)).swap(*this);
        return *this;
    }

    void swap(_OBJ& other) noexcept { std::swap(m_P, other.m_P); }
    void reset() { _OBJ().swap(*this); }

    explicit operator bool() const { return m_P != nullptr; }
    T* get() const { return m_P; }
    T* operator->() const {
        if (!m_P)
            HALT();
        return m_P;
    }
    T& operator*() const { return *operator->(); }

    friend bool operator==(const _OBJ& a, const _OBJ& b) { return a.m_P == b.m_P; }
    friend bool operator!=(const _OBJ& a, const _OBJ& b) { return a.m_P != b.m_P; }

private:
    T* m_P = nullptr;
};
