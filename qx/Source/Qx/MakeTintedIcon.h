#pragma once

#include <QColor>
#include <QIcon>
#include <QSize>
#include <QString>

namespace _QX {

// One-colour icon from a monochrome SVG resource: only the drawing's alpha survives.
// The caller owns the icon. A path that names no SVG gives a transparent icon.
QIcon* MakeTintedIcon(const QString& svgPath, const QColor& colour, const QSize& size);

}  // namespace _QX
