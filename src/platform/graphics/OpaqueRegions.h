#pragma once

#include <QImage>
#include <QRect>

// Where an image is fully opaque, found once per image and remembered for a few images: the
// painter draws what lies under the opaque part of a mask without the mask's offscreen pass.
// Main thread only (the painter's).
class OpaqueRegions {
public:
    // The larger of the longest run of wholly opaque columns and the longest run of wholly opaque
    // rows, in the image's pixels; empty when there is none.
    static QRect of(const QImage& image);
};
