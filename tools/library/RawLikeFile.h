#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

// Builds camera-RAW-like files for the demo library, the tests and the benchmarks: the container
// of each format (TIFF and its camera variants, the Fujifilm header, ISO media boxes), laid out
// as far as a metadata reader needs it to recognise the format, find the photo's orientation and
// list the embedded preview, around a given JPEG preview and a few bytes standing for the sensor
// data. No real sensor data, and no maker notes but where the preview lies in one (ORF).
//
// Where each format keeps its preview:
//   DNG  the single JPEG strip of a reduced-resolution sub-image (compression 7), after a smaller
//        preview of 160×120 grey pixels in another, beside a small uncompressed thumbnail in the
//        first image and the sensor data in a third sub-image
//   NEF  a reduced-resolution sub-image pointing at the JPEG (JPEGInterchangeFormat)
//   ARW  the first image pointing at the JPEG (JPEGInterchangeFormat)
//   CR2  the first image's strip, a JPEG, after the format's own header
//   ORF  the maker's note in the EXIF directory, whose camera settings point at the JPEG (an
//        offset from the note's start), after a thumbnail of 160×120 grey pixels in the note
//   RW2  the JPEG as the value of the format's JpgFromRaw tag
//   RAF  the JPEG the format's header points at; the orientation is in its EXIF, as cameras do
//   CR3  the JPEG in the PRVW box of its preview box; the orientation in the CMT1 box's TIFF
class RawLikeFile {
public:
    enum class Format { Dng, Nef, Arw, Cr2, Orf, Rw2, Raf, Cr3 };
    static constexpr Format formats[] = {Format::Dng, Format::Nef, Format::Arw, Format::Cr2,
                                         Format::Orf, Format::Rw2, Format::Raf, Format::Cr3};

    // The format's usual file name suffix in capitals, as cameras write it ("DNG").
    static QString suffix(Format format);

    // The file's bytes. `previewJpeg` is the preview as stored (its pixels turned as the camera
    // held it) and `previewSize` its width and height in pixels; an empty `previewJpeg` makes a
    // file without any preview (and, for DNG, without the thumbnail either). `orientation` is the
    // EXIF orientation, 1 to 8, recorded for the photo.
    static QByteArray make(Format format, const QByteArray& previewJpeg, QSize previewSize, int orientation);
};
