#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QSizeF>
#include <optional>

class Layer;
class QPainter;

// Draws a layer tree with QPainter at the animation clock's now (presentation values). The root
// layer's coordinate space is the view's, flipped: one point is one device-independent pixel,
// the root's y-up origin lands at the view's lower left. Main thread only.
class LayerPainter {
public:
    // Lays the tree out first (layout before each frame), then draws it into `viewSize` (pixels).
    // Laying out changes the tree: it must not be a const object (layers never are; they are
    // made by create()).
    // With `clearColor`, the view is filled with it first, as by a fill of the whole view, except
    // where an opaque layer is drawn over it anyway (the pixels come out the same).
    static void paint(QPainter& painter, const Layer& root, QSizeF viewSize,
                      std::optional<QColor> clearColor = std::nullopt);
    // Paints into a new transparent image of `size` pixels.
    static QImage render(const Layer& root, QSize size);
    // Shadows blurred from a layer's drawing (not a plain rectangle's) since the process started.
    static int blurredSilhouetteCountForTesting();
    // Device pixels filled by layer backgrounds and the clear colour since the process started (on
    // or near whole pixels; a fill that is not is counted by its bounding pixels).
    static qint64 backgroundPixelCountForTesting();
    // Device pixels where a flat colour was stacked on another not yet written, so that the two
    // were written as one (since the process started).
    static qint64 stackedFillPixelCountForTesting();
    // Pieces of images (a shadow's bands) copied to be kept across frames, since the process
    // started.
    static int keptPieceCountForTesting();
    // Pixels of image pieces over a flat colour (a shadow's bands over a strip's grey) held back to
    // be written row by row with the rest of the frame, since the process started.
    static qint64 heldPiecePixelCountForTesting();
};
