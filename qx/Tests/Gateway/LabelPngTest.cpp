// The label image's PNG: grey labels shrink to 8-bit grey, every pixel survives either way.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QPainter>

#include "Gateway/LabelPng.h"

namespace {

QImage Decode(const std::string& base64) {
    return QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString(base64)), "PNG");
}

// Anti-aliased black text on white: many shades of grey.
QImage GreyLabel() {
    QImage image(203, 101, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 3));
    painter.drawEllipse(10, 10, 180, 80);
    painter.drawLine(0, 100, 202, 0);
    return image;
}

bool SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
        }
    }
    return true;
}

}  // namespace

TEST(LabelPng, GreyLabelIsWrittenAsGreyWithTheSamePixels) {
    const QImage label = GreyLabel();
    const QImage png = Decode(LABEL_PNG::EncodeBase64(label));
    EXPECT_EQ(png.format(), QImage::Format_Grayscale8);
    EXPECT_TRUE(SamePixels(png, label));
}

TEST(LabelPng, ColourOrTransparencyKeepsTheImageAsItIs) {
    QImage coloured = GreyLabel();
    // One coloured pixel, in the last place the check looks.
    coloured.setPixel(coloured.width() - 1, coloured.height() - 1, qRgb(200, 10, 10));
    EXPECT_TRUE(LABEL_PNG::GreyCopy(coloured).isNull());
    const QImage colourPng = Decode(LABEL_PNG::EncodeBase64(coloured));
    EXPECT_NE(colourPng.format(), QImage::Format_Grayscale8);
    EXPECT_TRUE(SamePixels(colourPng, coloured));

    QImage transparent(20, 10, QImage::Format_ARGB32);
    transparent.fill(qRgba(0, 0, 0, 0));
    transparent.setPixel(3, 3, qRgba(128, 128, 128, 255));
    EXPECT_TRUE(LABEL_PNG::GreyCopy(transparent).isNull());
    EXPECT_TRUE(SamePixels(Decode(LABEL_PNG::EncodeBase64(transparent)), transparent));

    QImage mono(33, 9, QImage::Format_Mono);
    mono.fill(1);
    mono.setPixel(5, 5, 0);
    const QImage monoPng = Decode(LABEL_PNG::EncodeBase64(mono));
    ASSERT_FALSE(monoPng.isNull());
    EXPECT_TRUE(SamePixels(monoPng.convertToFormat(QImage::Format_RGB32),
                           mono.convertToFormat(QImage::Format_RGB32)));
}

TEST(LabelPng, KeepsTheResolutionAndEncodesNothingForNoImage) {
    QImage label = GreyLabel();
    label.setDotsPerMeterX(7992);
    label.setDotsPerMeterY(7992);
    const QImage png = Decode(LABEL_PNG::EncodeBase64(label));
    EXPECT_EQ(png.dotsPerMeterX(), 7992);
    EXPECT_EQ(png.dotsPerMeterY(), 7992);
    EXPECT_EQ(LABEL_PNG::EncodeBase64(QImage()), "");
}
