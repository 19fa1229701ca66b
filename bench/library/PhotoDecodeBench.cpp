#include "SyntheticPhoto.h"
#include "library/AlbumInfo.h"
#include "platform/foundation/AtomicFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <turbojpeg.h>
#include <vector>

// Decoding a 24-megapixel JPEG for a 1920-pixel screen, against a reference that gives the same
// image: libjpeg-turbo's scaled decode at the smallest of its scales at or above that size (the
// best it offers for the job), then the same smooth resize to the target size. The two sides
// alternate in one process, each releasing its image before the other runs; the median of the
// per-round ratios and their spread are printed.
namespace {
constexpr int width = 6000;
constexpr int height = 4000;
constexpr unsigned screenSize = 1920;

QImage referenceDecode(const QString& path)
{
    // Reading the file is part of the work, as it is for the decoder measured.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
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
    const QSize target =
        QSize(jpegWidth, jpegHeight).scaled(int(screenSize), int(screenSize), Qt::KeepAspectRatio);
    if (target == scaled.size())
        return scaled;
    return scaled.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The mean absolute difference per channel, 0-255; a negative value when the sizes differ.
double meanDifference(const QImage& a, const QImage& b)
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    QTemporaryDir folder;
    const QString path = folder.filePath("IMG_0001.JPG");
    if (!AtomicFile::write(path, SyntheticPhoto::jpeg(width, height)))
        return 1;
    const PlistPtr item = PlistValue::dictionary({{"ImagePath", PlistValue::string(path.toStdString())}});
    AlbumInfo albumInfo;

    // Same output first: the same size, and pixels that differ only by the decoders' rounding.
    const QImage ours = albumInfo.imageForItem(item, screenSize);
    const QImage reference = referenceDecode(path);
    const double difference = meanDifference(ours, reference);
    std::printf("ours %dx%d, reference %dx%d, mean difference %.2f of 255 per channel\n", ours.width(),
                ours.height(), reference.width(), reference.height(), difference);
    if (difference < 0 || difference > 0.5) {
        std::fprintf(stderr, "the two sides give different images\n");
        return 1;
    }

    std::vector<double> oursMs, referenceMs, ratios;
    QElapsedTimer timer;
    for (int round = 0; round < rounds; ++round) {
        double times[2] = {};
        // Alternate which side goes first; each image is released before the other side runs.
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursTurn = (turn == 0) == (round % 2 == 0);
            timer.start();
            {
                const QImage image =
                    oursTurn ? albumInfo.imageForItem(item, screenSize) : referenceDecode(path);
                if (image.isNull())
                    return 1;
            }
            times[oursTurn ? 0 : 1] = double(timer.nsecsElapsed()) / 1e6;
        }
        oursMs.push_back(times[0]);
        referenceMs.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
    }
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("ours %.1f ms, reference %.1f ms (medians of %d alternating rounds)\n", median(oursMs),
                median(referenceMs), rounds);
    std::printf("ratio ours/reference: median %.2f, spread %.2f-%.2f (goal at most 1.1: %s)\n",
                median(ratios), *low, *high,
                *high <= 1.1            ? "met"
                : median(ratios) <= 1.1 ? "median met, spread crosses"
                                        : "MISSED");
    std::printf("RESULT decode 24MP ratio=%.3f low=%.3f high=%.3f goal=1.1\n", median(ratios), *low, *high);
    return 0;
}
