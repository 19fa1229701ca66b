#include "TurboJpegReference.h"

#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <turbojpeg.h>

QByteArray TurboJpegReference::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QImage TurboJpegReference::decode(const QString& path, unsigned screenSize)
{
    // Reading the file is part of the work, as it is for the decoder measured.
    const QByteArray bytes = read(path);
    if (bytes.isEmpty())
        return {};
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto size = static_cast<unsigned long>(bytes.size());
    tjhandle decompressor = tjInitDecompress();
    int jpegWidth = 0, jpegHeight = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(decompressor, data, size, &jpegWidth, &jpegHeight, &subsampling, &colourspace) !=
        0) {
        tjDestroy(decompressor);
        return {};
    }
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    const int longer = std::max(jpegWidth, jpegHeight);
    tjscalingfactor chosen{1, 1};
    int chosenSide = longer;
    for (int i = 0; i < count; ++i) {
        const int side = TJSCALED(longer, factors[i]);
        if (side >= int(screenSize) && side < chosenSide) {
            chosen = factors[i];
            chosenSide = side;
        }
    }
    QImage scaled(TJSCALED(jpegWidth, chosen), TJSCALED(jpegHeight, chosen), QImage::Format_RGB32);
    const int failed = tjDecompress2(decompressor, data, size, scaled.bits(), scaled.width(),
                                     int(scaled.bytesPerLine()), scaled.height(), TJPF_BGRX, 0);
    tjDestroy(decompressor);
    if (failed)
        return {};
    // Never enlarged, as the program never enlarges.
    const QSize target =
        std::max(jpegWidth, jpegHeight) <= int(screenSize)
            ? QSize(jpegWidth, jpegHeight)
            : QSize(jpegWidth, jpegHeight).scaled(int(screenSize), int(screenSize), Qt::KeepAspectRatio);
    if (target == scaled.size())
        return scaled;
    return scaled.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

double TurboJpegReference::meanDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    const QImage left = a.convertToFormat(QImage::Format_RGB32);
    const QImage right = b.convertToFormat(QImage::Format_RGB32);
    double total = 0;
    for (int y = 0; y < left.height(); ++y) {
        const auto* l = reinterpret_cast<const uchar*>(left.constScanLine(y));
        const auto* r = reinterpret_cast<const uchar*>(right.constScanLine(y));
        for (int x = 0; x < left.width() * 4; ++x) {
            if (x % 4 != 3)
                total += std::abs(int(l[x]) - int(r[x]));
        }
    }
    return total / (double(left.width()) * left.height() * 3);
}

double TurboJpegReference::median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
