#include "Gateway/LabelPng.h"

#include <QBuffer>
#include <QByteArray>

namespace LABEL_PNG {

// One pass that both checks and converts: Qt's own check and conversion take a pass each,
// and the conversion alone costs more than the encoding saves on small labels.
QImage GreyCopy(const QImage& image) {
    if (image.format() != QImage::Format_RGB32)
        return {};
    QImage grey(image.size(), QImage::Format_Grayscale8);
    if (grey.isNull())
        return {};
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uchar* out = grey.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = in[x];
            const int blue = qBlue(pixel);
            if (qRed(pixel) != blue || qGreen(pixel) != blue)
                return {};
            out[x] = static_cast<uchar>(blue);
        }
    }
    grey.setDotsPerMeterX(image.dotsPerMeterX());
    grey.setDotsPerMeterY(image.dotsPerMeterY());
    return grey;
}

// Qt's quality 80 is zlib's fastest level: labels compress about a quarter less tightly in
// half the time, which is what bounds the gateway's jobs per second.
constexpr int kPngQuality = 80;

std::string EncodeBase64(const QImage& image) {
    const QImage grey = GreyCopy(image);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // A refused image (libpng takes at most 1,000,000 pixels a row) may leave a partial file.
    if (!(grey.isNull() ? image : grey).save(&buffer, "PNG", kPngQuality))
        return {};
    const QByteArray base64 = bytes.toBase64();
    return std::string(base64.constData(), static_cast<size_t>(base64.size()));
}

}  // namespace LABEL_PNG
