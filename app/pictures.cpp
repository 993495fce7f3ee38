#include "app/pictures.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in this static library; make sure they are linked in
// and registered before the first picture is drawn.
static void RegisterPictures() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(quillport);
    return true;
  }();
  (void)registered;
}

namespace quillport::pictures {

QPixmap Render(const QString& resource, QSize size, qreal device_pixel_ratio) {
  RegisterPictures();
  QSvgRenderer renderer(resource);
  if (!renderer.isValid() || size.isEmpty()) return {};
  QImage image(size * device_pixel_ratio, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);  // fills the whole image: the picture stretches
  }
  image.setDevicePixelRatio(device_pixel_ratio);
  return QPixmap::fromImage(image);
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addPixmap(Render(kIcon, QSize(side, side)));
  }
  return icon;
}

}  // namespace quillport::pictures
