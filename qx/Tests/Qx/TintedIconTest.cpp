#include <gtest/gtest.h>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <memory>

#include "Qx/MakeTintedIcon.h"
#include "Qx/QxColor.h"

namespace {

const QSize kSize(48, 48);
const QString kShape = QStringLiteral(":/Test/shape.svg");

QImage Pixels(const QIcon& icon) {
    return icon.pixmap(kSize).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage ShapeAlpha() {
    QImage image(kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QSvgRenderer(kShape).render(&painter, QRectF(image.rect()));
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

TEST(TintedIconTest, ColourWhereTheDrawingIsAndItsAlphaKept) {
    std::unique_ptr<QIcon> icon(_QX::MakeTintedIcon(kShape, _QX::COLOR::BLUE_500, kSize));
    const QImage image = Pixels(*icon);
    const QImage shape = ShapeAlpha();
    ASSERT_EQ(image.size(), kSize);

    int opaque = 0, partial = 0, clear = 0;
    for (int y = 0; y < kSize.height(); ++y) {
        for (int x = 0; x < kSize.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int alpha = shape.pixelColor(x, y).alpha();
            ASSERT_NEAR(pixel.alpha(), alpha, 1) << x << "," << y;
            if (alpha == 255) {
                ++opaque;
                ASSERT_EQ(pixel.name(), "#2196f3") << x << "," << y;
            } else if (alpha == 0) {
                ++clear;
                ASSERT_EQ(pixel.alpha(), 0);
            } else {
                ++partial;
            }
        }
    }
    EXPECT_EQ(opaque, 24 * 48);
    EXPECT_GT(partial, 0);
    EXPECT_EQ(clear, 12 * 48);
    EXPECT_EQ(image.pixelColor(30, 10).alpha(), shape.pixelColor(30, 10).alpha());
}

TEST(TintedIconTest, MissingResourceGivesATransparentIcon) {
    std::unique_ptr<QIcon> icon(
        _QX::MakeTintedIcon(":/Test/missing.svg", _QX::COLOR::RED_500, kSize));
    const QImage image = Pixels(*icon);
    ASSERT_EQ(image.size(), kSize);
    for (int y = 0; y < kSize.height(); ++y)
        for (int x = 0; x < kSize.width(); ++x)
            ASSERT_EQ(image.pixelColor(x, y).alpha(), 0);
}

}  // namespace
