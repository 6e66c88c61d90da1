#include "console/windows/jpeg_image.h"

#include <QFile>
#include <turbojpeg.h>

#include <memory>

namespace saalwacht::console {

QImage decodeJpeg(std::string_view bytes, QString& error) {
  std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
  if (!handle) {
    error = QStringLiteral("Der JPEG-Decoder kann nicht gestartet werden");
    return {};
  }
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (tjDecompressHeader3(handle.get(), data, static_cast<unsigned long>(bytes.size()), &width, &height,
                          &subsampling, &colourspace) != 0 ||
      width <= 0 || height <= 0) {
    error = QStringLiteral("Keine gültige JPEG-Grafik");
    return {};
  }
  // Limits what a damaged or hostile header can make us allocate.
  if (static_cast<long long>(width) * height > 100'000'000LL) {
    error = QStringLiteral("Die JPEG-Grafik ist zu groß (%1 x %2)").arg(width).arg(height);
    return {};
  }
  QImage image(width, height, QImage::Format_RGB888);
  if (image.isNull()) {
    error = QStringLiteral("Zu wenig Speicher für die JPEG-Grafik");
    return {};
  }
  if (tjDecompress2(handle.get(), data, static_cast<unsigned long>(bytes.size()), image.bits(), width,
                    static_cast<int>(image.bytesPerLine()), height, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0 &&
      tjGetErrorCode(handle.get()) == TJERR_FATAL) {
    error = QStringLiteral("Die JPEG-Grafik ist beschädigt");
    return {};
  }
  return image;
}

QImage loadJpegFile(const QString& path, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("%1 kann nicht gelesen werden").arg(path);
    return {};
  }
  const QByteArray bytes = file.readAll();
  return decodeJpeg(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error);
}

}  // namespace saalwacht::console
