#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Looks at the test's X display the way an operator would: finds shown windows by title,
// reads their pixels and asks them to close.
struct X11Probe {
    X11Probe();
    ~X11Probe();
    X11Probe(const X11Probe&) = delete;
    X11Probe& operator=(const X11Probe&) = delete;

    bool Open() const { return m_Display != nullptr; }
    // A viewable top-level window with this title, or 0.
    unsigned long FindShown(const std::string& title) const;
    // Share of the window's pixels for which match(rgb) holds; -1 when it cannot be read.
    double PixelShare(unsigned long window, const std::function<bool(uint32_t)>& match) const;
    // What the window manager sends when the operator clicks the close button.
    void RequestClose(unsigned long window) const;

private:
    struct _XDisplay* m_Display = nullptr;
};
