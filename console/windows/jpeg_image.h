#pragma once
// JPEG pictures for the room plan background and received screenshots.

#include <QImage>
#include <QString>
#include <string_view>

namespace saalwacht::console {

// Decodes JPEG bytes into an RGB image. A null image and `error` set when the
// bytes are not a JPEG picture that can be decoded.
QImage decodeJpeg(std::string_view bytes, QString& error);

// Reads and decodes a JPEG file.
QImage loadJpegFile(const QString& path, QString& error);

}  // namespace saalwacht::console
