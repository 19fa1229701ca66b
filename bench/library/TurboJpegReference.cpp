#include "TurboJpegReference.h"

#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
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

QImage TurboJpegReference::decode(const QString& path, unsigned screenSize)
{
    // Reading the file is part of the work, as it is for the decoder measured.
    const std::unique_ptr<Bytes> bytes = read(path);
    const tjhandle decompressor = threadDecompressor();
    if (!bytes || !decompressor)
        return {};
    const auto* data = reinterpret_cast<const unsigned char*>(bytes->view().data());
    const auto size = static_cast<unsigned long>(bytes->view().size());
    int jpegWidth = 0, jpegHeight = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(decompressor, data, size, &jpegWidth, &jpegHeight, &subsampling, &colourspace) !=
        0)
        return {};
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
