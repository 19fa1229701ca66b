#include "display/ItemDisplay.h"
#include "platform/graphics/LayerPainter.h"
#include "platform/graphics/LayerTreeHost.h"
#include "platform/graphics/ManualAnimationClock.h"
#include "platform/graphics/ScopedTransaction.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

// One frame of the photo strip as the rating screens show it (five 3:2 photos across the screen,
// their shadows, both edges feathered, one photo half-way through its fade-in), painted by the
// layer painter, against the floor: QPainter::drawImage of the same already-scaled photos at the
// same places into the same kind of target. The two alternate frame by frame in one process, so
// a busy machine slows both alike; the report is the median of each, the ratio of the medians
// and the spread of the frame-by-frame ratios.
//
//   ItemDisplayFrameBench [frames]      (default 60 of each per screen size)
namespace {

constexpr double photoRatio = 1.5;
constexpr std::size_t photoCount = 20;

class BenchHost : public LayerTreeHost {
public:
    void layerTreeNeedsDisplay() override {}
};

// Gradients with fine grain: a photo, as far as drawing it is concerned.
QImage photoImage(unsigned size, int variant)
{
    const int width = int(size);
    const int height = std::max(1, int(size / photoRatio));
    QImage image(width, height, QImage::Format_RGB32);
    uint32_t noise = 777u + uint32_t(variant);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28) - 8;
            line[x] = qRgb(std::clamp(x * 255 / width + grain, 0, 255),
                           std::clamp(y * 255 / height + grain, 0, 255),
                           std::clamp(variant * 40 % 256 + grain, 0, 255));
        }
    }
    return image;
}

class Photos : public ItemDisplayDataSource {
public:
    std::size_t numberOfItemsInDisplay(ItemDisplay& /*display*/) override { return photoCount; }
    double itemDisplayNeedsAspectRatio(ItemDisplay& /*display*/, std::size_t /*index*/) override
    {
        return photoRatio;
    }
    QImage itemDisplayNeedsImage(ItemDisplay& /*display*/, std::size_t index, unsigned size) override
    {
        return photoImage(size, int(index));
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5))];
}

struct Placed {
    QImage image;
    QPointF origin;
};

void measure(QSize screen, int frames)
{
    ManualAnimationClock clock;
    BenchHost host;
    Photos photos;
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, screen.width(), screen.height()));
    root->setBackgroundColor(Color::white(0, 1));
    root->setTreeHost(&host);

    ItemDisplay display;
    const double stripHeight = screen.width() / 5.0;
    display.layer()->setFrame(Rect(0, (screen.height() - stripHeight) / 2, screen.width(), stripHeight));
    // For finding where the time goes: ZUZIRE_STRIP_BENCH=plain drops the feathers and shadows,
    // =noshadow or =nofeather only one of them.
    const QByteArray mode = qgetenv("ZUZIRE_STRIP_BENCH");
    const bool feathers = mode != "plain" && mode != "nofeather";
    const bool shadows = mode != "plain" && mode != "noshadow";
    display.setFeatherLeftEdge(feathers);
    display.setFeatherRightEdge(feathers);
    display.setDataSource(&photos);
    display.setPosition(photoCount / 2);
    root->addSublayer(display.layer());

    QImage target(screen, QImage::Format_ARGB32_Premultiplied);
    auto paintStrip = [&] {
        QPainter painter(&target);
        LayerPainter::paint(painter, *root, QSizeF(screen));
    };
    paintStrip();
    display.workQueue().waitUntilAllOperationsAreFinished();
    QCoreApplication::sendPostedEvents();
    for (const auto& [index, layer] : display.itemLayers())
        layer->setShadowOpacity(shadows ? layer->shadowOpacity() : 0);
    clock.advance(5);
    paintStrip();

    // One photo fading in, frozen half-way.
    const LayerPtr fading = display.itemLayers().at(photoCount / 2 + 1);
    {
        ScopedTransaction transaction;
        transaction.setAnimationDuration(ItemDisplay::fadeInDuration);
        const QImage& shown = fading->contents();
        fading->setContents(photoImage(unsigned(shown.width()), 99));
    }
    clock.advance(ItemDisplay::fadeInDuration / 2);
    paintStrip();

    // The floor draws each photo in view where the strip shows it.
    std::vector<Placed> placed;
    const QRectF view(QPointF(0, 0), QSizeF(screen));
    for (const auto& [index, layer] : display.itemLayers()) {
        const Rect frame = layer->convertRectToLayer(layer->bounds(), nullptr);
        const QRectF onScreen(frame.minX(), screen.height() - frame.maxY(), frame.width(), frame.height());
        if (!onScreen.intersects(view))
            continue;
        placed.push_back({layer->contents(), onScreen.topLeft().toPoint()});
        if (layer == fading)
            placed.push_back({layer->previousContents(), onScreen.topLeft().toPoint()});
    }
    auto paintFloor = [&] {
        QPainter painter(&target);
        painter.fillRect(target.rect(), Qt::black);
        for (const Placed& photo : placed)
            painter.drawImage(photo.origin, photo.image);
    };

    using Clock = std::chrono::steady_clock;
    auto timed = [](const auto& paint) {
        const auto start = Clock::now();
        paint();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    std::vector<double> strip;
    std::vector<double> floor;
    std::vector<double> ratios;
    for (int i = 0; i < frames; ++i) {
        // Alternating which goes first, so neither always runs on the other's warm caches.
        double ours = 0;
        double reference = 0;
        if (i % 2) {
            ours = timed(paintStrip);
            reference = timed(paintFloor);
        } else {
            reference = timed(paintFloor);
            ours = timed(paintStrip);
        }
        strip.push_back(ours);
        floor.push_back(reference);
        ratios.push_back(ours / reference);
    }
    std::printf("%dx%d: strip %.2f ms, floor %.2f ms (median of %d), ratio %.2f (frame by frame: "
                "p10 %.2f, median %.2f, p90 %.2f), goal at most 1.5; %zu photos drawn\n",
                screen.width(), screen.height(), median(strip), median(floor), frames,
                median(strip) / median(floor), percentile(ratios, 0.1), median(ratios),
                percentile(ratios, 0.9), placed.size());
    root->setTreeHost(nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    measure(QSize(1920, 1080), frames);
    measure(QSize(3840, 2160), frames);
    return 0;
}
