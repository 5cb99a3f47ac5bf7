#include "imaging/qt/picture_qimage.h"

#include <cstring>
#include <stdexcept>

namespace glimmerly {

QImage ToQImage(const Picture& picture) {
    if (picture.Empty()) {
        return QImage();
    }
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3;
    if (picture.stride < rowBytes ||
        picture.pixels.size() <
            picture.stride * static_cast<std::size_t>(picture.height - 1) + rowBytes) {
        throw std::invalid_argument("Picture buffer does not hold its rows");
    }
    QImage image(picture.width, picture.height, QImage::Format_BGR888);
    if (image.isNull()) {
        throw std::bad_alloc();
    }
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(image.scanLine(y), picture.Row(y), rowBytes);
    }
    return image;
}

Picture FromQImage(const QImage& image) {
    if (image.isNull()) {
        return Picture();
    }
    const QImage converted = image.format() == QImage::Format_BGR888
                                 ? image
                                 : image.convertToFormat(QImage::Format_BGR888);
    if (converted.isNull()) {
        throw std::bad_alloc();
    }
    Picture picture(converted.width(), converted.height());
    const std::size_t rowBytes = picture.stride;
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(picture.Row(y), converted.constScanLine(y), rowBytes);
    }
    return picture;
}

} // namespace glimmerly
