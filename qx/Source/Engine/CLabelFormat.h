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

    // Largest image an export may produce, in pixels. Filling it, and the gateway's PNG and
    // base64 of it, take about a second here (11 megapixels 0.6 s, 48 megapixels 2.2 s): a
    // 100 x 150 mm label at 600 dpi, a label printer's finest, is 8 megapixels.
    static constexpr double MAX_PIXELS = 24e6;
    // Most characters of filled-in text over all objects that a render draws.
    static constexpr qsizetype MAX_TEXT_CHARS = 1000000;
    // Most drawing a render does, in glyph pixels: each character costs the square of its
    // font's size in pixels plus GLYPH_COST, each combining mark MARK_COST more, each object
    // with text OBJECT_COST. The bound keeps a render near a second; labels of some thousand
    // characters stay well within it.
    static constexpr double MAX_GLYPH_PIXELS = 16e6;
    // Measured: a character shaped in a run of its own (script or direction changing at every
    // character) costs about as much as 30 pixels of a large glyph; laying out an object about
    // as much as 2,000. Shaping places each mark against its base, looking back over the marks
    // before it, so a mark in a long run costs about 200 more, however the text splits into
    // grapheme clusters.
    static constexpr double GLYPH_COST = 30;
    static constexpr double MARK_COST = 200;
    static constexpr double OBJECT_COST = 2000;
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

    // White label with black text at dpi dots per inch; a null image when dpi is not positive,
    // the image would exceed MAX_PIXELS, or the text MAX_TEXT_CHARS or MAX_GLYPH_PIXELS.
    QImage Render(int dpi, const std::map<QString, QString>& values) const;

    // The drawing cost of a render at a positive dpi, in glyph pixels; infinite beyond the
    // bounds on the text.
    double Cost(int dpi, const std::map<QString, QString>& values) const;

private:
    // Cost, and within the bounds the filled-in text and the font size of each object.
    double Plan(int dpi, const std::map<QString, QString>& values, std::vector<QString>* texts,
                std::vector<int>* fontPixels) const;
};

}  // namespace _ENGINE
