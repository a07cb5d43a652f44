#pragma once

#include <QImage>
#include <string>

// The label image as the MES receives it: PNG in base64.
namespace LABEL_PNG {

// Base64 (standard alphabet, padded, one line) of the image as PNG. A label without colour
// and without transparency is written as 8-bit grey: the same pixels in a third of the data,
// which the encoder compresses several times faster. Empty when the image cannot be encoded.
std::string EncodeBase64(const QImage& image);

// The image as 8-bit grey when every pixel is opaque grey; otherwise a null image.
QImage GreyCopy(const QImage& image);

}  // namespace LABEL_PNG
