#include "display/ItemDisplay.h"
#include "platform/graphics/LayerPainter.h"
#include "platform/graphics/LayerTreeHost.h"
#include "platform/graphics/ManualAnimationClock.h"
#include "platform/graphics/ScopedTransaction.h"
#include "platform/graphics/Transaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

// One frame of the photo strip as the rating screen shows it, against the floor of drawing the
// same already-scaled photos with QPainter::drawImage at the same places into the same target.
//
// The scene is the flow screen's: the strip fills the screen (its height is the screen's, so a 3:2
// photo is about two thirds of the screen high and the current one is flanked by parts of its
// neighbours), with its grey background, the five photo layers the strip keeps at that width,
// their shadows, both edges feathered and the right neighbour half-way through its one-second
// fade-in from its placeholder. The frame is painted as the window paints it: the view's black
// background, then the tree. Two moments are timed: the strip at rest, and the 0.25 s move to the
// next photo, its clock advanced between frames as in a real move and the frames spread evenly over
// the whole move (the photos land on fractional positions, two or three are on screen).
//
// The floor fills the target with the strip's grey where no opaque photo is drawn over it (the strip
// leaves its fill out there too; the fading photo is not opaque, so the grey is under it) and draws each
// photo on screen with QPainter::drawImage, one image pixel to one device pixel without smooth
// resampling (the fastest way QPainter has of drawing an unscaled image), the fading photo with
// its opacity at that moment, each photo at the device pixel the strip puts it on at that moment:
// the strip draws a photo decoded for its size by rounding its centred top left corner to a whole
// pixel whatever its fractional frame, so the floor does the same. (drawImage without smooth
// resampling puts an image given a fractional position on that same pixel; with it, it resamples
// the whole image, slower and not the image the strip shows.) The
// two sides alternate frame by frame in one process, the first side alternating too, so a busy
// machine slows both alike; the report is the median of each, the ratio of the medians, the
// spread of the frame-by-frame ratios, the worst of them, the slowest strip frame and how many
// frames are over the goal. A move's frames include its first, painted at its start, which lays the
// strip out for the new position.
//
//   ItemDisplayFrameBench [FRAMES [1080|2160]]   (default 60 of each per screen size and moment;
//                                                 the move's rounded up to whole moves of 15,
//                                                 each timed with its first frame too)
//
// ZUZIRE_STRIP_BENCH_IMAGES=FOLDER writes the strip's frame at rest and at each moment of the move
// as PNGs there, to compare the painter's output before and after a change.
namespace {

constexpr double photoRatio = 1.5;
constexpr std::size_t photoCount = 20;
constexpr std::size_t firstPosition = photoCount / 2;
const QColor viewBackground = Qt::black;
const Color stripBackground = Color::white(0.5, 1.0);

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
    QPoint origin;
    double opacity;
};

// Each photo on screen as the strip shows it now (presentation values): its image, where it lands
// (centred on its frame and rounded to a whole device pixel, as the painter places an image decoded
// for its size) and its opacity.
std::vector<Placed> placedPhotos(const ItemDisplay& display, QSize screen)
{
    std::vector<Placed> placed;
    const QRect view(QPoint(0, 0), screen);
    for (const auto& [index, layer] : display.itemLayers()) {
        const LayerState shown = layer->presentation();
        const Rect frame = shown.frame();
        const QImage& image = layer->contents();
        if (image.isNull())
            continue;
        const QPointF centre(frame.midX(), screen.height() - frame.midY());
        const QPoint origin(int(std::round(centre.x() - image.width() / 2.0)),
                            int(std::round(centre.y() - image.height() / 2.0)));
        if (!QRect(origin, image.size()).intersects(view))
            continue;
        placed.push_back({image, origin, shown.contentsTransition});
    }
    return placed;
}

struct Result {
    double strip;
    double floor;
    double p10;
    double medianRatio;
    double p90;
    double worstRatio;
    double slowestStrip;
    double slowestRatio;
    std::size_t overGoal;
};

constexpr double goal = 1.5;

using Clock = std::chrono::steady_clock;

double timed(const std::function<void()>& paint)
{
    const auto start = Clock::now();
    paint();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The frames of one moment or one move, both sides, in the order they were taken.
struct Frames {
    std::vector<double> strip;
    std::vector<double> floor;
    std::vector<double> ratios;

    // Times one frame of each side, in the order given.
    void take(const std::function<void()>& paintStrip, const std::function<void()>& paintFloor,
              bool stripFirst)
    {
        double ours = 0;
        double reference = 0;
        if (stripFirst) {
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

    Result result() const
    {
        const auto slowest = std::size_t(std::max_element(strip.begin(), strip.end()) - strip.begin());
        return {median(strip),
                median(floor),
                percentile(ratios, 0.1),
                median(ratios),
                percentile(ratios, 0.9),
                *std::max_element(ratios.begin(), ratios.end()),
                strip[slowest],
                ratios[slowest],
                std::size_t(std::count_if(ratios.begin(), ratios.end(), [](double r) { return r > goal; }))};
    }
};

// The floor of one frame: the grey where no opaque photo covers it (as the strip, which leaves the
// fill out under them), then the same photos at the same pixels.
void paintFloor(QImage& target, const std::vector<Placed>& placed)
{
    QPainter painter(&target);
    QRegion grey(target.rect());
    for (const Placed& photo : placed) {
        if (photo.opacity >= 1.0 && !photo.image.hasAlphaChannel())
            grey -= QRect(photo.origin, photo.image.size());
    }
    for (const QRect& rect : grey)
        painter.fillRect(rect, stripBackground.toQColor());
    for (const Placed& photo : placed) {
        painter.setOpacity(photo.opacity);
        painter.drawImage(photo.origin, photo.image);
    }
}

// A 60 Hz screen's frames in one move.
constexpr int framesPerMove = 15;

void measure(QSize screen, int frames)
{
    ManualAnimationClock clock;
    BenchHost host;
    Photos photos;
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, screen.width(), screen.height()));
    root->setTreeHost(&host);

    // As the flow screen sets its strip up.
    ItemDisplay display;
    display.layer()->setBackgroundColor(stripBackground);
    display.layer()->setFrame(root->bounds());
    // For finding where the time goes: ZUZIRE_STRIP_BENCH=nofeather, noshadow or nofade leaves
    // that part out.
    const QByteArray leftOut = qgetenv("ZUZIRE_STRIP_BENCH");
    display.setFeatherLeftEdge(leftOut != "nofeather");
    display.setFeatherRightEdge(leftOut != "nofeather");
    display.setDataSource(&photos);
    display.setPosition(firstPosition);
    root->addSublayer(display.layer());

    QImage target(screen, QImage::Format_ARGB32_Premultiplied);
    // As the window paints a frame.
    auto paintStrip = [&] {
        QPainter painter(&target);
        LayerPainter::paint(painter, *root, QSizeF(screen), viewBackground);
    };
    // Paints a frame and lets the photos that start loading on it load, as they would in the
    // course of a move; photos entering the strip get their shadows taken away as the first did.
    auto settle = [&] {
        paintStrip();
        display.workQueue().waitUntilAllOperationsAreFinished();
        QCoreApplication::sendPostedEvents();
        if (leftOut == "noshadow") {
            for (const auto& [index, layer] : display.itemLayers())
                layer->setShadowOpacity(0);
        }
    };
    settle();
    clock.advance(5);
    paintStrip();

    // The photo at `position` fades in from its placeholder, starting now.
    auto startFade = [&](std::size_t position) {
        if (leftOut == "nofade")
            return;
        const LayerPtr fading = display.itemLayers().at(position);
        const QImage loaded = fading->contents();
        {
            ScopedTransaction placeholder;
            placeholder.setDisableActions(true);
            fading->setContents(QImage());
            fading->setBorderWidth(1.0);
            fading->setBorderColor(Color::white(0.0, 0.25));
            fading->setBackgroundColor(Color::white(1.0, 0.5));
        }
        ScopedTransaction transaction;
        transaction.setAnimationDuration(ItemDisplay::fadeInDuration);
        fading->setBorderWidth(0);
        fading->setBackgroundColor(std::nullopt);
        fading->setContents(loaded);
    };

    const QByteArray imageFolder = qgetenv("ZUZIRE_STRIP_BENCH_IMAGES");
    auto save = [&](const QString& name) {
        if (imageFolder.isEmpty())
            return;
        paintStrip();
        target.save(
            QDir(QString::fromLocal8Bit(imageFolder))
                .filePath(
                    QStringLiteral("strip-%1x%2-%3.png").arg(screen.width()).arg(screen.height()).arg(name)));
    };
    std::size_t photosLow = photoCount;
    std::size_t photosHigh = 0;
    auto report = [&](const char* moment, const Frames& taken) {
        const Result result = taken.result();
        const std::string onScreen = photosLow == photosHigh
                                         ? std::to_string(photosLow)
                                         : std::to_string(photosLow) + "-" + std::to_string(photosHigh);
        std::printf("%dx%d %s: strip %.2f ms, floor %.2f ms (median of %zu), ratio %.2f (frame by frame: "
                    "p10 %.2f, median %.2f, p90 %.2f; worst %.2f; slowest strip frame %.2f ms at %.2f; "
                    "%zu of %zu over %.1f), goal at most %.1f; %s photos on screen\n",
                    screen.width(), screen.height(), moment, result.strip, result.floor, taken.strip.size(),
                    result.strip / result.floor, result.p10, result.medianRatio, result.p90,
                    result.worstRatio, result.slowestStrip, result.slowestRatio, result.overGoal,
                    taken.strip.size(), goal, goal, onScreen.c_str());
    };
    auto placedNow = [&] {
        std::vector<Placed> placed = placedPhotos(display, screen);
        photosLow = std::min(photosLow, placed.size());
        photosHigh = std::max(photosHigh, placed.size());
        return placed;
    };

    // At rest, the right neighbour frozen half-way through its fade-in.
    startFade(firstPosition + 1);
    clock.advance(ItemDisplay::fadeInDuration / 2);
    paintStrip();
    {
        const std::vector<Placed> placed = placedNow();
        Frames taken;
        for (int i = 0; i < frames; ++i)
            taken.take(
                paintStrip, [&] { paintFloor(target, placed); }, i % 2);
        report("at rest", taken);
        save(QStringLiteral("at rest"));
    }

    // Moves to the next photo and back, each timed at the frames a 60 Hz screen shows of it, the
    // moves' frames falling between one another's so that together they sample the whole move
    // evenly: frame i of all is at (i + 0.5) / all of the move's duration. Each move starts as the
    // first did, with the photo at the right of the rest position half-way through its fade-in; the
    // photo that enters the strip far off screen loads at the move's start, as it would.
    const double moveDuration = Transaction::defaultAnimationDuration;
    const int moves = std::max(1, (frames + framesPerMove - 1) / framesPerMove);
    const int all = moves * framesPerMove;
    photosLow = photoCount;
    photosHigh = 0;
    Frames taken;
    for (int move = 0; move < moves; ++move) {
        startFade(firstPosition + 1);
        clock.advance(ItemDisplay::fadeInDuration / 2);
        const double start = clock.now();
        display.setPosition(move % 2 ? firstPosition : firstPosition + 1);
        // The move's first frame, at its start: it lays the strip out for the new position (the
        // photo entering the strip is added and starts loading) and is timed with the rest.
        {
            const std::vector<Placed> placed = placedNow();
            taken.take(
                paintStrip, [&] { paintFloor(target, placed); }, move % 2);
            if (!imageFolder.isEmpty() && move == 0)
                save(QStringLiteral("mid-move-%1").arg(0.0, 0, 'f', 4));
        }
        settle();
        for (int frame = 0; frame < framesPerMove; ++frame) {
            const int i = frame * moves + move;
            const double at = (i + 0.5) / all;
            clock.setNow(start + at * moveDuration);
            const std::vector<Placed> placed = placedNow();
            taken.take(
                paintStrip, [&] { paintFloor(target, placed); }, (move + frame) % 2);
            if (!imageFolder.isEmpty())
                save(QStringLiteral("mid-move-%1").arg(at, 0, 'f', 4));
        }
        // The move ends, and the screen rests a while before the next.
        clock.setNow(start + moveDuration + 1);
        settle();
    }
    report("mid-move", taken);
    root->setTreeHost(nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    // A second argument, 1080 or 2160, measures that size only.
    const int only = argc > 2 ? std::atoi(argv[2]) : 0;
    if (only != 2160)
        measure(QSize(1920, 1080), frames);
    if (only != 1080)
        measure(QSize(3840, 2160), frames);
    return 0;
}
