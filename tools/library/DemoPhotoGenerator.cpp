#include "tools/library/DemoPhotoGenerator.h"

#include "platform/foundation/AtomicFile.h"
#include "tools/library/ExifOrientation.h"
#include "tools/library/RawLikeFile.h"

#include <QBuffer>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <optional>

namespace {
struct DemoPhoto {
    const char* path;
    int width;  // as displayed, pixels
    int height; // as displayed, pixels
    int orientation;
    QColor top;
    QColor bottom;
};

const DemoPhoto photos[] = {
    {"Coast/01 Harbour.jpg", 1600, 1067, 1, QColor(70, 130, 200), QColor(20, 50, 90)},
    {"Coast/02 Lighthouse.jpg", 1000, 1500, 1, QColor(240, 200, 120), QColor(90, 60, 40)},
    {"Coast/03 Bay panorama.jpg", 3200, 900, 1, QColor(120, 190, 230), QColor(30, 90, 120)},
    {"Coast/04 Cliff (turned right).jpg", 900, 1350, 6, QColor(200, 120, 90), QColor(60, 30, 20)},
    {"Garden/01 Tulips.jpg", 1200, 1200, 1, QColor(230, 80, 110), QColor(40, 110, 40)},
    {"Garden/02 Fern (turned left).jpg", 1500, 1000, 8, QColor(140, 210, 120), QColor(20, 70, 30)},
    {"Garden/03 Pond (upside down).jpg", 1500, 1000, 3, QColor(90, 160, 170), QColor(20, 50, 60)},
    {"Garden/04 Bench.jpg", 1400, 933, 1, QColor(210, 190, 150), QColor(80, 70, 50)},
    {"Garden/05 Lost photo.jpg", 1200, 800, 1, QColor(150, 150, 150), QColor(50, 50, 50)},
    {"Mountains/01 Peak.jpg", 1600, 1067, 1, QColor(180, 200, 240), QColor(70, 70, 90)},
    {"Mountains/02 Ridge.jpg", 1067, 1600, 1, QColor(220, 180, 200), QColor(60, 50, 80)},
    // Camera RAW files, shown through their embedded previews.
    {"Camera/01 Glacier.DNG", 1800, 1200, 1, QColor(200, 230, 250), QColor(60, 90, 120)},
    {"Camera/02 Waterfall (turned right).NEF", 1000, 1500, 6, QColor(150, 200, 220), QColor(30, 60, 50)},
    {"Camera/03 Dunes.RAF", 1800, 1200, 1, QColor(240, 210, 150), QColor(150, 100, 50)},
};

// The RAW format a demo file's suffix names, if any.
std::optional<RawLikeFile::Format> rawFormat(const QString& path)
{
    for (const RawLikeFile::Format format : RawLikeFile::formats) {
        if (QFileInfo(path).suffix().compare(RawLikeFile::suffix(format), Qt::CaseInsensitive) == 0)
            return format;
    }
    return std::nullopt;
}

const char* const movie = "Coast/05 Waves.mov";

QImage drawUpright(const DemoPhoto& photo)
{
    QImage image(photo.width, photo.height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, photo.height);
    sky.setColorAt(0, photo.top);
    sky.setColorAt(1, photo.bottom);
    painter.fillRect(image.rect(), sky);

    const int unit = std::min(photo.width, photo.height) / 10;
    QPainterPath arrow;
    const int centre = photo.width / 2;
    arrow.moveTo(centre, unit);
    arrow.lineTo(centre + unit, 2 * unit);
    arrow.lineTo(centre - unit, 2 * unit);
    arrow.closeSubpath();
    painter.fillPath(arrow, Qt::white);

    QFont font;
    font.setPixelSize(unit * 2 / 3);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QString name = QFileInfo(QString::fromUtf8(photo.path)).completeBaseName();
    painter.drawText(image.rect().adjusted(unit, 3 * unit, -unit, -unit), Qt::AlignHCenter | Qt::AlignTop,
                     name + QStringLiteral("\n%1 \u00d7 %2").arg(photo.width).arg(photo.height));
    return image;
}

// The pixels as a camera held turned would store them: the EXIF orientation turns them back.
QImage stored(const QImage& upright, int orientation)
{
    switch (orientation) {
    case 3:
        return upright.transformed(QTransform().rotate(180));
    case 6:
        return upright.transformed(QTransform().rotate(-90));
    case 8:
        return upright.transformed(QTransform().rotate(90));
    default:
        return upright;
    }
}

Error writeError(const QString& path)
{
    return Error(Error::applicationDomain, 3, QStringLiteral("cannot write %1").arg(path).toStdString());
}
} // namespace

bool DemoPhotoGenerator::generate(const QString& folder, Error* error)
{
    const QDir root(folder);
    for (const DemoPhoto& photo : photos) {
        const QString path = root.filePath(QString::fromUtf8(photo.path));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        const QImage pixels = stored(drawUpright(photo), photo.orientation);
        if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !pixels.save(&buffer, "JPG", 88)) {
            qmSetError(error, writeError(path));
            return false;
        }
        if (const auto format = rawFormat(path))
            jpeg = RawLikeFile::make(*format, jpeg, pixels.size(), photo.orientation);
        else if (photo.orientation != 1)
            jpeg = ExifOrientation::withOrientation(jpeg, photo.orientation);
        if (!AtomicFile::write(path, jpeg, error))
            return false;
    }
    // A stand-in: the program never plays movies, it only has to leave them out.
    const QString moviePath = root.filePath(QString::fromUtf8(movie));
    return AtomicFile::write(moviePath, QByteArrayLiteral("demo movie placeholder\n"), error);
}
