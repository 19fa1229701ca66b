#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// The program's window icon, read from a PNG file by libpng directly. Qt's own image reader, asked
// for a file, first looks through every image format plugin installed (and loads most of them) to
// find one that claims the file; at start-up that cost about as much as everything else before the
// first frame together, for a 128-pixel icon.
class WindowIcon {
public:
    // The icon drawn from the PNG file at `path`; a null icon when the file is missing or no
    // readable PNG (a warning names it; the window then shows the desktop's default icon).
    static QIcon fromPngFile(const QString& path);

    // The file's pixels, not premultiplied, one pixel of the image per pixel of the file; a null
    // image when the file is missing or no readable PNG.
    static QImage readPng(const QString& path);
};
