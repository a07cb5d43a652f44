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
        // Millimetres from the top left corner.
        double m_X = 0, m_Y = 0, m_Width = 0, m_Height = 0;
        double m_FontMm = 3;  // text height in millimetres
        bool m_Bold = false;
        int m_Align = 0;  // Qt horizontal alignment flag
        QString m_Font;   // family; empty for the default
        QString m_Text;
    };

    // Largest image an export may produce, in pixels.
    static constexpr double MAX_PIXELS = 100e6;
    // Largest format file that is read; a format of hundreds of text objects is a few dozen KiB.
    static constexpr qint64 MAX_FILE_BYTES = 1 << 20;

    double m_WidthMm = 0;
    double m_HeightMm = 0;
    int m_Orientation = 0;
    std::map<QString, QString> m_SubStrings;  // name -> default value
    std::vector<TEXT> m_Texts;

    // Empty when the file is missing, is not a regular file of at most MAX_FILE_BYTES, or is
    // not a valid format.
    static std::optional<CLabelFormat> Load(const QString& path);

    // White label with black text at dpi dots per inch; a null image when dpi is not positive
    // or the image would exceed MAX_PIXELS.
    QImage Render(int dpi, const std::map<QString, QString>& values) const;
};

}  // namespace _ENGINE
