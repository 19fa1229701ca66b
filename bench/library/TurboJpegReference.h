#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QString>
#include <memory>
#include <vector>

// The reference of the photo-decoding benchmarks: libjpeg-turbo's scaled decode at the smallest of
// its scales at or above the target size (the best it offers for the job), then the same smooth
// resize to the target size the program makes, so both sides give the same image. It is given the
// same advantages the program has: one decompressor a thread, kept across images, and the file's
// bytes read through a read-only mapping whose pages are populated at once.
//
// ZUZIRE_REFERENCE_READ=readall reads the file whole into memory instead, and =map maps it without
// populating the pages, to compare the ways of reading.
class TurboJpegReference {
public:
    // The JPEG file at `path` decoded so that its longer side is `screenSize` pixels (never
    // enlarged), reading the file included; null when it cannot be decoded.
    static QImage decode(const QString& path, unsigned screenSize);

    // decode() of a photo taken in portrait whose EXIF orientation is 6 (turned a quarter clockwise
    // to be shown), turned upright, at a size reached by the library's own scaling alone (no
    // resize): the rows are decoded with libjpeg's scanline interface a band of 128 at a time and
    // written turned, straight into the upright image, the fastest way measured to get that image
    // from the library (its lossless rotation cannot turn a 4:2:0 JPEG whose height is no multiple of 16,
    // as the benchmark's preview, without cutting rows off; decoding and then turning with Qt's
    // quarter-turn rotation costs a second pass). Null when that size needs a resize.
    static QImage decodeTurnedQuarter(const QString& path, unsigned screenSize);

    // A file's bytes as decode() reads them; valid while it lives.
    class Bytes {
    public:
        virtual ~Bytes() = default;
        virtual QByteArrayView view() const = 0;
    };
    // Null when the file cannot be read or is empty.
    static std::unique_ptr<Bytes> read(const QString& path);
    // How read() reads, for reports: "open, map, populate, unmap" or another.
    static const char* readDescription();

    // The mean absolute difference per colour channel, 0-255; negative when the sizes differ.
    static double meanDifference(const QImage& a, const QImage& b);
    // The most meanDifference() may be for two decodes of one file to count as the same image. The
    // program's resize after the scaled decode averages each pixel's area and rounds where Qt's
    // smooth scale, which the reference uses, truncates: about half a level apart on average.
    static constexpr double sameImageLimit = 1.0;

    static double median(std::vector<double> values);
};
