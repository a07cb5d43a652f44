#include "Qx/CWindowGeometry.h"

#include <QWidget>

namespace _QX {

CWindowGeometry::CWindowGeometry(int defaultWidth, int defaultHeight)
    : m_WindowX("Qt/Win_Main/WindowX", 0),
      m_WindowY("Qt/Win_Main/WindowY", 0),
      m_WindowW("Qt/Win_Main/WindowW", defaultWidth),
      m_WindowH("Qt/Win_Main/WindowH", defaultHeight) {}

void CWindowGeometry::Restore(QWidget& window) {
    m_WindowX.Load();
    m_WindowY.Load();
    window.move(m_WindowX.Get(), m_WindowY.Get());
    m_WindowW.Load();
    m_WindowH.Load();
    window.resize(m_WindowW.Get(), m_WindowH.Get());
}

void CWindowGeometry::Store(const QWidget& window) {
    m_WindowX.Set(window.x());
    m_WindowY.Set(window.y());
    m_WindowW.Set(window.width());
    m_WindowH.Set(window.height());
}

}  // namespace _QX
