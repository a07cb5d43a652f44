#include <gtest/gtest.h>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <memory>
#include <utility>

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

TEST(TintedIconTest, SameShapeInTwoIndependentColours) {
    std::unique_ptr<QIcon> red(_QX::MakeTintedIcon(kShape, _QX::COLOR::RED_500, kSize));
    std::unique_ptr<QIcon> blue(_QX::MakeTintedIcon(kShape, _QX::COLOR::BLUE_500, kSize));
    EXPECT_EQ(Pixels(*red).pixelColor(2, 2).name(), "#f44336");
    EXPECT_EQ(Pixels(*blue).pixelColor(2, 2).name(), "#2196f3");
    EXPECT_EQ(Pixels(*red).pixelColor(40, 2).alpha(), 0);
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

// Every constant of the palette against its published value.
TEST(PaletteTest, AllEightyFourColours) {
    namespace C = _QX::COLOR;
    const std::pair<const QColor*, const char*> palette[] = {
        {&C::PURPLE, "#9C27B0"},      {&C::BLACK, "#000000"},       {&C::CYAN, "#31CCEC"},
        {&C::CRIMSON, "#C10015"},     {&C::GREEN, "#21BA45"},       {&C::AZURE, "#1976D2"},
        {&C::SEA_GREEN, "#26A69A"},   {&C::AMBER, "#F2C037"},       {&C::WHITE, "#FFFFFF"},
        {&C::BLUE, "#2196f3"},        {&C::BLUE_900, "#0d47a1"},    {&C::BLUE_A100, "#82b1ff"},
        {&C::BLUE_A200, "#448aff"},   {&C::BLUE_A400, "#2979ff"},   {&C::BLUE_A700, "#2962ff"},
        {&C::BLUE_50, "#e3f2fd"},     {&C::BLUE_100, "#bbdefb"},    {&C::BLUE_200, "#90caf9"},
        {&C::BLUE_300, "#64b5f6"},    {&C::BLUE_400, "#42a5f5"},    {&C::BLUE_500, "#2196f3"},
        {&C::BLUE_600, "#1e88e5"},    {&C::BLUE_700, "#1976d2"},    {&C::BLUE_800, "#1565c0"},
        {&C::GREY, "#9e9e9e"},        {&C::GREY_900, "#212121"},    {&C::GREY_A100, "#f5f5f5"},
        {&C::GREY_A200, "#eeeeee"},   {&C::GREY_A400, "#bdbdbd"},   {&C::GREY_A700, "#616161"},
        {&C::GREY_50, "#fafafa"},     {&C::GREY_100, "#f5f5f5"},    {&C::GREY_200, "#eeeeee"},
        {&C::GREY_300, "#e0e0e0"},    {&C::GREY_400, "#bdbdbd"},    {&C::GREY_500, "#9e9e9e"},
        {&C::GREY_600, "#757575"},    {&C::GREY_700, "#616161"},    {&C::GREY_800, "#424242"},
        {&C::RED, "#f44336"},         {&C::RED_900, "#b71c1c"},     {&C::RED_A100, "#ff8a80"},
        {&C::RED_A200, "#ff5252"},    {&C::RED_A400, "#ff1744"},    {&C::RED_A700, "#d50000"},
        {&C::RED_50, "#ffebee"},      {&C::RED_100, "#ffcdd2"},     {&C::RED_200, "#ef9a9a"},
        {&C::RED_300, "#e57373"},     {&C::RED_400, "#ef5350"},     {&C::RED_500, "#f44336"},
        {&C::RED_600, "#e53935"},     {&C::RED_700, "#d32f2f"},     {&C::RED_800, "#c62828"},
        {&C::TEAL, "#009688"},        {&C::TEAL_900, "#004d40"},    {&C::TEAL_A100, "#a7ffeb"},
        {&C::TEAL_A200, "#64ffda"},   {&C::TEAL_A400, "#1de9b6"},   {&C::TEAL_A700, "#00bfa5"},
        {&C::TEAL_50, "#e0f2f1"},     {&C::TEAL_100, "#b2dfdb"},    {&C::TEAL_200, "#80cbc4"},
        {&C::TEAL_300, "#4db6ac"},    {&C::TEAL_400, "#26a69a"},    {&C::TEAL_500, "#009688"},
        {&C::TEAL_600, "#00897b"},    {&C::TEAL_700, "#00796b"},    {&C::TEAL_800, "#00695c"},
        {&C::YELLOW, "#ffeb3b"},      {&C::YELLOW_900, "#f57f17"},  {&C::YELLOW_A100, "#ffff8d"},
        {&C::YELLOW_A200, "#ffff00"}, {&C::YELLOW_A400, "#ffea00"}, {&C::YELLOW_A700, "#ffd600"},
        {&C::YELLOW_50, "#fffde7"},   {&C::YELLOW_100, "#fff9c4"},  {&C::YELLOW_200, "#fff59d"},
        {&C::YELLOW_300, "#fff176"},  {&C::YELLOW_400, "#ffee58"},  {&C::YELLOW_500, "#ffeb3b"},
        {&C::YELLOW_600, "#fdd835"},  {&C::YELLOW_700, "#fbc02d"},  {&C::YELLOW_800, "#f9a825"},
    };
    for (const auto& [colour, hex] : palette)
        EXPECT_EQ(*colour, QColor(hex)) << hex;
}

}  // namespace
