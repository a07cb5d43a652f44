#pragma once

#include "Platform/Reg.h"

class QWidget;

namespace _QX {

// A main window's position and size, kept in the settings "Qt/Win_Main/WindowX", "WindowY",
// "WindowW" and "WindowH" of the program's registry. Declare it only after ENV::Initialize.
struct CWindowGeometry {
    // The position defaults to (0, 0).
    CWindowGeometry(int defaultWidth, int defaultHeight);

    // Reads the four settings again, moves the window to (x, y) and resizes it to (w, h); the
    // window's minimum size applies.
    void Restore(QWidget& window);
    // Writes the window's x, y, width and height, in this order.
    void Store(const QWidget& window);

    _OS::ENV::REG<int> m_WindowX;
    _OS::ENV::REG<int> m_WindowY;
    _OS::ENV::REG<int> m_WindowW;
    _OS::ENV::REG<int> m_WindowH;
};

}  // namespace _QX
