#pragma once

#include <QImage>
#include <QString>
#include <map>
#include <optional>
#include <vector>

namespace _ENGINE {

// A label format file of the stand-in engine: JSON with the paper size in millimetres, the
// orientation, the named substrings with their defaults, and text objects placed in
// millimetres whose text shows substring values through "{Name}".
struct CLabelFormat {
    struct TEXT {
        double X = 0, Y = 0, Width = 0, Height = 0;  // millimetres from the top left corner
        double FontMm = 3;                           // text height in millimetres
        bool Bold = false;
        int Align = 0;  // Qt horizontal alignment flag
        QString Font;   // family; empty for the default
        QString Text;
    };

    // Largest image an export may produce, in pixels.
    static constexpr double MAX_PIXELS = 100e6;

    double WidthMm = 0;
    double HeightMm = 0;
    int Orientation = 0;
    std::map<QString, QString> SubStrings;  // name -> default value
    std::vector<TEXT> Texts;

    // Empty when the file is missing or is not a valid format.
    static std::optional<CLabelFormat> Load(const QString& path);

    // White label with black text at dpi dots per inch; a null image when dpi is not positive
    // or the image would exceed MAX_PIXELS.
    QImage Render(int dpi, const std::map<QString, QString>& values) const;
};

}  // namespace _ENGINE
