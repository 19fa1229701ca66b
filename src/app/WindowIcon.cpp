#include "app/WindowIcon.h"

#include <QFile>
#include <QPixmap>
#include <png.h>

QIcon WindowIcon::fromPngFile(const QString& path)
{
    const QImage image = readPng(path);
    if (image.isNull()) {
        qWarning("The window icon %s cannot be read; the window shows the desktop's default icon",
                 qUtf8Printable(path));
        return QIcon();
    }
    return QIcon(QPixmap::fromImage(image));
}

QImage WindowIcon::readPng(const QString& path)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, QFile::encodeName(path).constData()))
        return QImage();
    // Bytes in the file's order, whatever the machine's: the format Qt names RGBA8888.
    png.format = PNG_FORMAT_RGBA;
    QImage image(int(png.width), int(png.height), QImage::Format_RGBA8888);
    if (image.isNull()) {
        png_image_free(&png);
        return QImage();
    }
    // Frees the reader's state whether or not it succeeds.
    if (!png_image_finish_read(&png, nullptr, image.bits(), int(image.bytesPerLine()), nullptr))
        return QImage();
    return image;
}
