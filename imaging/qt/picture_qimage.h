#pragma once
// Lossless conversions between Picture and QImage::Format_BGR888.

#include <QImage>

#include "imaging/picture.h"

namespace glimmerly {

// A deep copy in QImage::Format_BGR888 (same bytes, same order); an empty picture gives a null
// image.
QImage ToQImage(const Picture& picture);

// A picture of the image's pixels; any format is converted to 24-bit BGR first (alpha is
// dropped). A null image gives an empty picture.
Picture FromQImage(const QImage& image);

} // namespace glimmerly
