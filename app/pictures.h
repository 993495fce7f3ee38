// The program's pictures, drawn as SVG and compiled in: the icon, the sun
// (something was relayed) and the snowflake (an empty file was met).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace quillport::pictures {

inline const QString kIcon = QStringLiteral(":/pictures/quillport.svg");
inline const QString kSun = QStringLiteral(":/pictures/sun.svg");
inline const QString kSnowflake = QStringLiteral(":/pictures/snowflake.svg");

// The picture `resource` stretched to `size`, on a transparent ground, drawn
// sharp for a screen of `device_pixel_ratio`. A null pixmap when the picture
// cannot be read.
QPixmap Render(const QString& resource, QSize size, qreal device_pixel_ratio = 1.0);

// The program's icon in the sizes window systems ask for, 16 to 256 pixels.
QIcon ProgramIcon();

}  // namespace quillport::pictures
