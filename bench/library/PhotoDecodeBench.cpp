#include "RatioReporter.h"
#include "library/AlbumInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <turbojpeg.h>
#include <vector>

// Decoding a 24-megapixel JPEG for a 1920-pixel screen, against libjpeg-turbo's own scaled decode
// of the same file at the nearest scale at or above that size.
namespace {
constexpr int width = 6000;
constexpr int height = 4000;
constexpr unsigned screenSize = 1920;

// Smooth gradients with fine texture: compresses and decodes like a photo, unlike flat colour
// or pure noise.
QByteArray photoJpeg()
{
    std::vector<unsigned char> pixels(size_t(width) * height * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28) - 8;
            unsigned char* p = &pixels[(size_t(y) * width + x) * 3];
            p[0] = static_cast<unsigned char>(std::clamp(x * 255 / width + grain, 0, 255));
            p[1] = static_cast<unsigned char>(std::clamp(y * 255 / height + grain, 0, 255));
            p[2] = static_cast<unsigned char>(std::clamp(((x / 40) ^ (y / 40)) * 4 % 256 + grain, 0, 255));
        }
    }
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, pixels.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90, 0);
    QByteArray bytes(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(compressor);
    return bytes;
}

struct Photo {
    QTemporaryDir folder;
    QString path;
    QByteArray bytes;
};

Photo& photo()
{
    static Photo shared = [] {
        Photo made;
        made.path = made.folder.filePath("IMG_0001.JPG");
        made.bytes = photoJpeg();
        QFile file(made.path);
        file.open(QIODevice::WriteOnly);
        file.write(made.bytes);
        return made;
    }();
    return shared;
}

void BM_Reference_TurboJpegScaledDecode(benchmark::State& state)
{
    const Photo& source = photo();
    const QByteArray path = QFile::encodeName(source.path);
    for (auto _ : state) {
        // Reading the file is part of the work, as it is for the decoder measured.
        QFile file(source.path);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        tjhandle decompressor = tjInitDecompress();
        int jpegWidth = 0, jpegHeight = 0, subsampling = 0, colourspace = 0;
        tjDecompressHeader3(decompressor, reinterpret_cast<const unsigned char*>(bytes.constData()),
                            static_cast<unsigned long>(bytes.size()), &jpegWidth, &jpegHeight, &subsampling,
                            &colourspace);
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        tjscalingfactor chosen{1, 1};
        int chosenSide = std::max(jpegWidth, jpegHeight);
        for (int i = 0; i < count; ++i) {
            const int side = TJSCALED(std::max(jpegWidth, jpegHeight), factors[i]);
            if (side >= int(screenSize) && side < chosenSide) {
                chosen = factors[i];
                chosenSide = side;
            }
        }
        const int scaledWidth = TJSCALED(jpegWidth, chosen);
        const int scaledHeight = TJSCALED(jpegHeight, chosen);
        std::vector<unsigned char> pixels(size_t(scaledWidth) * scaledHeight * 4);
        tjDecompress2(decompressor, reinterpret_cast<const unsigned char*>(bytes.constData()),
                      static_cast<unsigned long>(bytes.size()), pixels.data(), scaledWidth, 0, scaledHeight,
                      TJPF_BGRX, 0);
        tjDestroy(decompressor);
        benchmark::DoNotOptimize(pixels.data());
        state.counters["width"] = scaledWidth;
    }
}

void BM_AlbumInfoImageForItem(benchmark::State& state)
{
    const Photo& source = photo();
    const PlistPtr item =
        PlistValue::dictionary({{"ImagePath", PlistValue::string(source.path.toStdString())}});
    AlbumInfo albumInfo;
    for (auto _ : state) {
        const QImage image = albumInfo.imageForItem(item, screenSize);
        if (image.isNull()) {
            state.SkipWithError("no image");
            return;
        }
        state.counters["width"] = image.width();
    }
}

BENCHMARK(BM_Reference_TurboJpegScaledDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_AlbumInfoImageForItem)->Unit(benchmark::kMillisecond)->MinTime(2.0);
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter({{"BM_AlbumInfoImageForItem/min_time:2.000",
                             "BM_Reference_TurboJpegScaledDecode/min_time:2.000", 1.2}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
