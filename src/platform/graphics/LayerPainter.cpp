#include "LayerPainter.h"

#include "Layer.h"

#include <QPainter>

void LayerPainter::paint(QPainter& painter, const Layer& root, QSizeF viewSize) {
    (void)painter;
    (void)root;
    (void)viewSize;
}

QImage LayerPainter::render(const Layer& root, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter, root, QSizeF(size));
    return image;
}
