#include "RatioReporter.h"
#include "SyntheticPhoto.h"
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
        made.bytes = SyntheticPhoto::jpeg(width, height);
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
