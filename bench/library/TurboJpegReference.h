#pragma once

#include <QImage>
#include <QString>
#include <vector>

// The reference of the photo-decoding benchmarks: libjpeg-turbo's scaled decode at the smallest of
// its scales at or above the target size (the best it offers for the job), then the same smooth
// resize to the target size the program makes, so both sides give the same image.
class TurboJpegReference {
public:
    // The JPEG file at `path` decoded so that its longer side is `screenSize` pixels (never
    // enlarged), reading the file included; null when it cannot be decoded.
    static QImage decode(const QString& path, unsigned screenSize);
    // The file's bytes as decode() reads them; empty when it cannot be read.
    static QByteArray read(const QString& path);

    // The mean absolute difference per colour channel, 0-255; negative when the sizes differ.
    static double meanDifference(const QImage& a, const QImage& b);

    static double median(std::vector<double> values);
};
