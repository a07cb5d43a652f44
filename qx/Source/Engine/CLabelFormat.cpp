#include "Engine/CLabelFormat.h"

#include <QPainter>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "Engine/RegularFile.h"

namespace _ENGINE {

namespace {

using nlohmann::json;

constexpr double MM_PER_INCH = 25.4;

double Number(const json& object, const char* key, double fallback) {
    auto it = object.find(key);
    if (it == object.end())
        return fallback;
    if (!it->is_number())
        throw std::invalid_argument(key);
    return it->get<double>();
}

// A number no int holds makes the file invalid instead of an undefined conversion.
int Integer(const json& object, const char* key, int fallback) {
    auto it = object.find(key);
    if (it == object.end())
        return fallback;
    if (it->is_number_float()) {
        const double value = std::trunc(it->get<double>());
        if (!(value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()))
            throw std::invalid_argument(key);
    }
    return it->get<int>();
}

QString Text(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end())
        return {};
    return QString::fromStdString(it->get<std::string>());
}

int Alignment(const QString& align) {
    if (align.isEmpty() || align == QLatin1String("left"))
        return Qt::AlignLeft;
    if (align == QLatin1String("center"))
        return Qt::AlignHCenter;
    if (align == QLatin1String("right"))
        return Qt::AlignRight;
    throw std::invalid_argument("Align");
}

CLabelFormat::TEXT ParseText(const json& object) {
    if (!object.is_object())
        throw std::invalid_argument("Objects");
    CLabelFormat::TEXT text;
    text.m_X = Number(object, "X", 0);
    text.m_Y = Number(object, "Y", 0);
    text.m_Width = Number(object, "Width", 0);
    text.m_Height = Number(object, "Height", 0);
    text.m_FontMm = Number(object, "FontSize", 3);
    text.m_Bold = object.value("Bold", false);
    text.m_Align = Alignment(Text(object, "Align"));
    text.m_Font = Text(object, "Font");
    text.m_Text = Text(object, "Text");
    if (text.m_Width <= 0 || text.m_Height <= 0 || text.m_FontMm <= 0)
        throw std::invalid_argument("Objects");
    return text;
}

// Hands the pieces of the filled-in text in order: the text as written, with each "{Name}" of a
// known substring replaced by its value. Stops when piece returns false.
template <typename Piece>
void Walk(const QString& text, const std::map<QString, QString>& values, Piece&& piece) {
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('{'), pos);
        const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char('}'), open + 1);
        if (close < 0)
            break;
        if (!piece(QStringView(text).mid(pos, open - pos)))
            return;
        auto it = values.find(text.mid(open + 1, close - open - 1));
        if (!piece(it != values.end() ? QStringView(it->second)
                                      : QStringView(text).mid(open, close - open + 1)))
            return;
        pos = close + 1;
    }
    piece(QStringView(text).mid(pos));
}

QString Fill(const QString& text, const std::map<QString, QString>& values) {
    QString out;
    Walk(text, values, [&out](QStringView piece) {
        out += piece;
        return true;
    });
    return out;
}

// The length of the filled-in text, counted without building it; past limit it stops counting
// and gives a length above limit.
qsizetype FilledLength(const QString& text, const std::map<QString, QString>& values,
                       qsizetype limit) {
    qsizetype length = 0;
    Walk(text, values, [&](QStringView piece) {
        length += piece.size();
        return length <= limit;
    });
    return length;
}

// Combining marks of text, by code point: shaping places each against its base, looking back
// over the marks before it, however the text splits into grapheme clusters.
qsizetype Marks(const QString& text) {
    qsizetype marks = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t code = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        switch (QChar::category(code)) {
            case QChar::Mark_NonSpacing:
            case QChar::Mark_SpacingCombining:
            case QChar::Mark_Enclosing:
                ++marks;
                break;
            default:
                break;
        }
    }
    return marks;
}

}  // namespace

std::optional<CLabelFormat> CLabelFormat::Load(const QString& path) {
    const std::optional<QByteArray> content = ReadRegularFile(path, MAX_FILE_BYTES);
    if (!content)
        return std::nullopt;
    const QByteArray& bytes = *content;
    try {
        const json root = json::parse(bytes.constData(), bytes.constData() + bytes.size());
        if (!root.is_object())
            return std::nullopt;
        CLabelFormat format;
        format.m_WidthMm = Number(root, "Width", 0);
        format.m_HeightMm = Number(root, "Height", 0);
        format.m_Orientation = Integer(root, "Orientation", 0);
        if (!(format.m_WidthMm > 0) || !(format.m_HeightMm > 0))
            return std::nullopt;
        auto subStrings = root.find("SubStrings");
        if (subStrings != root.end()) {
            if (!subStrings->is_object())
                return std::nullopt;
            for (auto it = subStrings->begin(); it != subStrings->end(); ++it)
                format.m_SubStrings[QString::fromStdString(it.key())] =
                    QString::fromStdString(it->get<std::string>());
        }
        auto objects = root.find("Objects");
        if (objects != root.end()) {
            if (!objects->is_array())
                return std::nullopt;
            for (const json& object : *objects)
                format.m_Texts.push_back(ParseText(object));
        }
        return format;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

double CLabelFormat::Cost(int dpi, const std::map<QString, QString>& values) const {
    return Plan(dpi, values, nullptr, nullptr);
}

double CLabelFormat::Plan(int dpi, const std::map<QString, QString>& values,
                          std::vector<QString>* texts, std::vector<int>* fontPixels) const {
    const double scale = dpi / MM_PER_INCH;
    qsizetype chars = 0;
    double cost = 0;
    for (std::size_t i = 0; i < m_Texts.size(); ++i) {
        const qsizetype length = FilledLength(m_Texts[i].m_Text, values, MAX_TEXT_CHARS - chars);
        chars += length;
        if (chars > MAX_TEXT_CHARS)
            return std::numeric_limits<double>::infinity();
        QString text = length == 0 ? QString() : Fill(m_Texts[i].m_Text, values);
        const double pixels = std::max(1.0, std::round(m_Texts[i].m_FontMm * scale));
        if (length > 0)
            cost += OBJECT_COST + static_cast<double>(length) * (pixels * pixels + GLYPH_COST) +
                    static_cast<double>(Marks(text)) * MARK_COST;
        if (!(cost <= MAX_GLYPH_PIXELS))
            return std::numeric_limits<double>::infinity();
        if (texts)
            texts->push_back(std::move(text));
        if (fontPixels)
            fontPixels->push_back(static_cast<int>(pixels));
    }
    return cost;
}

QImage CLabelFormat::Render(int dpi, const std::map<QString, QString>& values) const {
    if (dpi <= 0)
        return {};
    const double scale = dpi / MM_PER_INCH;  // pixels per millimetre
    const double width = std::round(m_WidthMm * scale);
    const double height = std::round(m_HeightMm * scale);
    if (width < 1 || height < 1 || width * height > MAX_PIXELS)
        return {};
    // The text is filled in and costed before anything is drawn.
    std::vector<QString> texts;
    std::vector<int> fontPixels;
    if (!(Plan(dpi, values, &texts, &fontPixels) <= MAX_GLYPH_PIXELS))
        return {};

    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    const int dotsPerMeter = static_cast<int>(std::lround(scale * 1000));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);
    for (std::size_t i = 0; i < m_Texts.size(); ++i) {
        if (texts[i].isEmpty())
            continue;
        const TEXT& text = m_Texts[i];
        QFont font = text.m_Font.isEmpty() ? QFont() : QFont(text.m_Font);
        font.setPixelSize(fontPixels[i]);
        font.setBold(text.m_Bold);
        painter.setFont(font);
        const QRectF box(text.m_X * scale, text.m_Y * scale, text.m_Width * scale,
                         text.m_Height * scale);
        painter.drawText(box, text.m_Align | Qt::AlignVCenter, texts[i]);
    }
    return image;
}

}  // namespace _ENGINE
