#include "TurboJpegReference.h"

#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <jpeglib.h>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22 // Linux 5.14 and later
#endif

namespace {
class WholeFile : public TurboJpegReference::Bytes {
public:
    explicit WholeFile(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {}
    QByteArrayView view() const override { return m_bytes; }

private:
    QByteArray m_bytes;
};

class MappedFile : public TurboJpegReference::Bytes {
public:
    MappedFile(const void* data, size_t size)
        : m_data(data)
        , m_size(size)
    {}
    ~MappedFile() override { ::munmap(const_cast<void*>(m_data), m_size); }
    QByteArrayView view() const override
    {
        return QByteArrayView(static_cast<const char*>(m_data), qsizetype(m_size));
    }

private:
    const void* m_data;
    size_t m_size;
};

enum class Read { Populated, Mapped, Whole };

Read readChosen()
{
    static const Read chosen = [] {
        const QByteArray name = qgetenv("ZUZIRE_REFERENCE_READ");
        return name == "readall" ? Read::Whole : name == "map" ? Read::Mapped : Read::Populated;
    }();
    return chosen;
}

tjhandle threadDecompressor()
{
    thread_local const std::unique_ptr<void, int (*)(tjhandle)> decompressor(tjInitDecompress(), tjDestroy);
    return decompressor.get();
}
} // namespace

std::unique_ptr<TurboJpegReference::Bytes> TurboJpegReference::read(const QString& path)
{
    if (readChosen() == Read::Whole) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return nullptr;
        QByteArray bytes = file.readAll();
        return bytes.isEmpty() ? nullptr : std::make_unique<WholeFile>(std::move(bytes));
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    void* data = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        data = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (data == MAP_FAILED)
        return nullptr;
    if (readChosen() == Read::Populated)
        ::madvise(data, size_t(info.st_size), MADV_POPULATE_READ);
    return std::make_unique<MappedFile>(data, size_t(info.st_size));
}

const char* TurboJpegReference::readDescription()
{
    switch (readChosen()) {
    case Read::Whole:
        return "open, read whole";
    case Read::Mapped:
        return "open, map, unmap";
    case Read::Populated:
        break;
    }
    return "open, map, populate, unmap";
}

namespace {
// A JPEG file's bytes with what its header says, as both ways of decoding start.
struct Opened {
    std::unique_ptr<TurboJpegReference::Bytes> bytes;
    tjhandle decompressor = nullptr;
    const unsigned char* data = nullptr;
    unsigned long size = 0;
    int jpegWidth = 0;
    int jpegHeight = 0;
};

std::optional<Opened> open(const QString& path)
{
    Opened opened;
    // Reading the file is part of the work, as it is for the decoder measured.
    opened.bytes = TurboJpegReference::read(path);
    opened.decompressor = threadDecompressor();
    if (!opened.bytes || !opened.decompressor)
        return std::nullopt;
    opened.data = reinterpret_cast<const unsigned char*>(opened.bytes->view().data());
    opened.size = static_cast<unsigned long>(opened.bytes->view().size());
    int subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(opened.decompressor, opened.data, opened.size, &opened.jpegWidth,
                            &opened.jpegHeight, &subsampling, &colourspace) != 0)
        return std::nullopt;
    return opened;
}
} // namespace

QImage TurboJpegReference::decode(const QString& path, unsigned screenSize)
{
    const auto opened = open(path);
    if (!opened)
        return {};
    const tjhandle decompressor = opened->decompressor;
    const unsigned char* data = opened->data;
    const unsigned long size = opened->size;
    const int jpegWidth = opened->jpegWidth, jpegHeight = opened->jpegHeight;
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
    if (tjDecompress2(decompressor, data, size, scaled.bits(), scaled.width(), int(scaled.bytesPerLine()),
                      scaled.height(), TJPF_BGRX, 0) != 0)
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

namespace {
struct JumpingErrors {
    jpeg_error_mgr base;
    jmp_buf jump;
};

[[noreturn]] void jumpOut(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JumpingErrors*>(info->err)->jump, 1);
}

void quiet(j_common_ptr)
{}

// Decodes `data` at 1:1 into `upright`, of the stored size transposed: stored (x, y) goes to
// upright (height - 1 - y, x). Rows come a band at a time so that each upright row takes a run of
// pixels at once. Plain data only in this frame: an error leaves it by a long jump.
bool decodeQuarterInto(const unsigned char* data, unsigned long size, QImage& upright)
{
    // Of 8 to 512 rows, 128 was the fastest measured on the benchmark's preview.
    constexpr int band = 128;
    jpeg_decompress_struct info{};
    JumpingErrors errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpOut;
    errors.base.output_message = quiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    const int width = int(info.output_width), height = int(info.output_height);
    if (upright.width() != height || upright.height() != width) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    // Taken once: `scanLine` checks for sharing on every call, which the program's writer does not pay.
    uchar* const bits = upright.bits();
    const qsizetype stride = upright.bytesPerLine();
    const JSAMPARRAY rows = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                      JDIMENSION(width) * 4, band);
    while (int(info.output_scanline) < height) {
        const int top = int(info.output_scanline);
        int got = 0;
        while (got < band && int(info.output_scanline) < height)
            got += int(jpeg_read_scanlines(&info, rows + got, JDIMENSION(band - got)));
        for (int x = 0; x < width; ++x) {
            auto* out = reinterpret_cast<quint32*>(bits + x * stride) + (height - 1 - top);
            for (int r = 0; r < got; ++r)
                out[-r] = reinterpret_cast<const quint32*>(rows[r])[x];
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}
} // namespace

QImage TurboJpegReference::decodeTurnedQuarter(const QString& path, unsigned screenSize)
{
    const auto opened = open(path);
    if (!opened || std::max(opened->jpegWidth, opened->jpegHeight) > int(screenSize))
        return {};
    QImage upright(opened->jpegHeight, opened->jpegWidth, QImage::Format_RGB32);
    if (upright.isNull() || !decodeQuarterInto(opened->data, opened->size, upright))
        return {};
    return upright;
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
