#include "platform/graphics/Layer.h"
#include "platform/graphics/LayerPainter.h"
#include "platform/graphics/TextLayer.h"

#include <QGuiApplication>
#include <QPainter>
#include <benchmark/benchmark.h>

namespace {

constexpr int rows = 15;
constexpr int columns = 20;
const QSize viewSize(1280, 720);

Rect cell(int row, int column)
{
    return Rect(column * 64.0 + 2, row * 48.0 + 2, 60, 44);
}

LayerPtr makeTree()
{
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, viewSize.width(), viewSize.height()));
    root->setBackgroundColor(Color::white(0.5, 1));
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const LayerPtr layer =
                (row * columns + column) % 10 == 0 ? LayerPtr(TextLayer::create()) : Layer::create();
            layer->setFrame(cell(row, column));
            layer->setBackgroundColor(Color::rgb(row / double(rows), column / double(columns), 0.5, 1));
            layer->setBorderWidth(1);
            if (auto* text = dynamic_cast<TextLayer*>(layer.get())) {
                text->setString(QStringLiteral("Album"));
                text->setFontSize(14);
            }
            root->addSublayer(layer);
        }
    }
    return root;
}

// The same rectangles filled straight with QPainter: the floor the layer tree is measured
// against.
void BM_ReferenceFills(benchmark::State& state)
{
    QImage image(viewSize, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(image.rect(), Qt::gray);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                const Rect r = cell(row, column);
                painter.fillRect(QRectF(r.minX(), viewSize.height() - r.maxY(), r.width(), r.height()),
                                 QColor::fromRgbF(float(row) / rows, float(column) / columns, 0.5f));
            }
        }
    }
}
BENCHMARK(BM_ReferenceFills)->Unit(benchmark::kMillisecond);

void BM_PaintThreeHundredLayers(benchmark::State& state)
{
    const LayerPtr root = makeTree();
    QImage image(viewSize, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        LayerPainter::paint(painter, *root, QSizeF(viewSize));
    }
}
BENCHMARK(BM_PaintThreeHundredLayers)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
