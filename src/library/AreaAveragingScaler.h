#pragma once

#include <QImage>
#include <QSize>

// Resizes an image to an exact size without Qt's shared thread pool. Qt's smooth scale hands pieces
// of a large image to that pool, whose threads run at normal priority, so a photo loader kept at
// idle priority would take processor time from the main thread through them. Called from a
// foreground thread, this scaler does a large image's top half on one thread of its own, started
// for the call, which takes the calling thread's scheduling, and the rest on the calling thread.
// A small image, and any image resized on a background queue's worker (a photo loader), is done
// all on the calling thread: a new thread, even at idle priority, can keep the main thread from
// its processor for a whole scheduler tick.
//
// Along an axis that shrinks, each target pixel is the mean of the source pixels its area covers,
// each weighted by how much of it is covered (a box filter over exact coverage, in fixed point with
// 14-bit weights): within a level or two of Qt's smooth scale. Along an axis that grows, a target
// pixel is interpolated linearly between the two source pixels nearest its centre (the edge pixels
// held beyond the edges), as Qt's smooth scale does there. The horizontal pass runs first, one
// source row at a time, so the working memory is the rows one target row covers (the ratio of the
// heights, plus one) at the target's width, 8 bytes a pixel, for each half: a few rows for a photo.
//
// Format_RGB32 and Format_ARGB32_Premultiplied are resized as they are and keep their format
// (premultiplied channels average correctly); any other format is converted a row at a time, to
// Format_ARGB32_Premultiplied when it has an alpha channel and to Format_RGB32 otherwise, and the
// result is in that format. The colour space, resolution and text of the image are kept.
//
// Sizes are in pixels. No shared state: callable from any thread.
class AreaAveragingScaler {
public:
    // `image` resized to `size`, ignoring its aspect ratio. The image itself (sharing its pixels)
    // when it already has that size; a null image when either is empty or the target's pixels
    // cannot be allocated.
    static QImage scaled(const QImage& image, const QSize& size);
    // How many helper threads the calls so far have started.
    static int helperThreadsStartedForTesting();
};
