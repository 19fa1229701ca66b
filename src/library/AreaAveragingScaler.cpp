#include "library/AreaAveragingScaler.h"

#include "library/BandedImageConversion.h"
#include "platform/foundation/OperationQueue.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
// A target pixel's weights add up to exactly one, so an opaque channel stays 255 and a
// premultiplied channel never exceeds its alpha after rounding.
constexpr int weightBits = 14;
constexpr quint32 weightOne = 1u << weightBits;
// The horizontal pass keeps 7 bits below a channel's level for the vertical one: 255 << 7 fits a
// signed 16-bit value, which the processor's 16-bit multiply-add takes, and that times a weight fits
// 31 bits.
constexpr int carriedBits = 7;
constexpr int horizontalShift = weightBits - carriedBits;
constexpr int verticalShift = weightBits + carriedBits;

// Which source pixels make each target pixel along one axis, and with which weights.
struct Taps {
    std::vector<int> first;   // the first source pixel of each target pixel
    std::vector<int> offsets; // each target pixel's weights in `weights`, from offsets[t] to offsets[t + 1]
    std::vector<quint32> weights;
    int widest = 1; // the most source pixels one target pixel takes
};

// Shrinking: target pixel t covers [t·source, (t + 1)·source) in units of 1/target of a source
// pixel, and source pixel i covers [i·target, (i + 1)·target), so every overlap is a whole number
// of units and the weights are exact up to their rounding.
void addAreaTaps(Taps& taps, qint64 source, qint64 target, qint64 t)
{
    const qint64 start = t * source;
    const qint64 end = start + source;
    const qint64 first = start / target;
    const qint64 last = (end - 1) / target;
    const size_t from = taps.weights.size();
    quint32 total = 0;
    size_t largest = from;
    for (qint64 i = first; i <= last; ++i) {
        const qint64 overlap = std::min((i + 1) * target, end) - std::max(i * target, start);
        const auto weight = quint32((overlap * weightOne + source / 2) / source);
        taps.weights.push_back(weight);
        total += weight;
        if (weight > taps.weights[largest])
            largest = taps.weights.size() - 1;
    }
    taps.weights[largest] += weightOne - total;
    taps.first.push_back(int(first));
}

// Growing: the source position of target pixel t's centre is (t + ½)·source/target − ½; the pixel
// is interpolated between the two source pixels around it, and the edge pixels hold beyond them.
void addLinearTaps(Taps& taps, qint64 source, qint64 target, qint64 t)
{
    const qint64 numerator = (2 * t + 1) * source - target;
    const qint64 denominator = 2 * target;
    const qint64 left = numerator <= 0 ? 0 : numerator / denominator;
    if (numerator <= 0 || left >= source - 1) {
        taps.first.push_back(numerator <= 0 ? 0 : int(source - 1));
        taps.weights.push_back(weightOne);
        return;
    }
    const auto right = quint32(((numerator % denominator) * weightOne + denominator / 2) / denominator);
    taps.first.push_back(int(left));
    taps.weights.push_back(weightOne - right);
    taps.weights.push_back(right);
}

Taps tapsFor(int source, int target)
{
    Taps taps;
    taps.first.reserve(size_t(target));
    taps.offsets.reserve(size_t(target) + 1);
    for (int t = 0; t < target; ++t) {
        taps.offsets.push_back(int(taps.weights.size()));
        if (source >= target)
            addAreaTaps(taps, source, target, t);
        else
            addLinearTaps(taps, source, target, t);
        taps.widest = std::max(taps.widest, int(taps.weights.size()) - taps.offsets.back());
    }
    taps.offsets.push_back(int(taps.weights.size()));
    return taps;
}

// One source row of 4-byte pixels resized along x; the channels, in their byte order, carried with
// `carriedBits` more bits.
void scaleRow(const uchar* row, const Taps& taps, qint16* out)
{
    const quint32* weights = taps.weights.data();
    const size_t count = taps.first.size();
#if defined(__SSE2__)
    // Two source pixels a step: their channels interleaved as 16-bit values, each pair multiplied by
    // the two weights and added in one instruction.
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(1 << (horizontalShift - 1));
    const auto* pixels = reinterpret_cast<const quint32*>(row);
    for (size_t t = 0; t < count; ++t) {
        const quint32* pixel = pixels + taps.first[t];
        __m128i sum = zero;
        int k = taps.offsets[t];
        const int end = taps.offsets[t + 1];
        for (; k + 1 < end; k += 2, pixel += 2) {
            const __m128i pair = _mm_unpacklo_epi8(
                _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(pixel[0])), _mm_cvtsi32_si128(int(pixel[1]))), zero);
            sum = _mm_add_epi32(
                sum, _mm_madd_epi16(pair, _mm_set1_epi32(int(weights[k] | (weights[k + 1] << 16)))));
        }
        if (k < end) {
            const __m128i single =
                _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(pixel[0])), zero), zero);
            sum = _mm_add_epi32(sum, _mm_madd_epi16(single, _mm_set1_epi32(int(weights[k]))));
        }
        sum = _mm_srli_epi32(_mm_add_epi32(sum, half), horizontalShift);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(sum, sum));
        out += 4;
    }
#else
    for (size_t t = 0; t < count; ++t) {
        const uchar* pixel = row + 4 * size_t(taps.first[t]);
        quint32 s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (int k = taps.offsets[t]; k < taps.offsets[t + 1]; ++k, pixel += 4) {
            const quint32 weight = weights[k];
            s0 += pixel[0] * weight;
            s1 += pixel[1] * weight;
            s2 += pixel[2] * weight;
            s3 += pixel[3] * weight;
        }
        constexpr quint32 half = 1u << (horizontalShift - 1);
        out[0] = qint16((s0 + half) >> horizontalShift);
        out[1] = qint16((s1 + half) >> horizontalShift);
        out[2] = qint16((s2 + half) >> horizontalShift);
        out[3] = qint16((s3 + half) >> horizontalShift);
        out += 4;
    }
#endif
}

// The rows one target row takes, resized along x, weighed and added into the target row `out` of
// `channels` bytes. The rows hold at least `channels` rounded up to 8 values.
void addRows(const qint16* const* rows, const quint32* weights, int count, size_t channels, uchar* out)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(1 << (verticalShift - 1));
    for (size_t i = 0; i < channels; i += 8) {
        __m128i low = zero, high = zero;
        int k = 0;
        for (; k + 1 < count; k += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i));
            const __m128i weight = _mm_set1_epi32(int(weights[k] | (weights[k + 1] << 16)));
            low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weight));
            high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weight));
        }
        if (k < count) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i weight = _mm_set1_epi32(int(weights[k]));
            low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, zero), weight));
            high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, zero), weight));
        }
        low = _mm_srli_epi32(_mm_add_epi32(low, half), verticalShift);
        high = _mm_srli_epi32(_mm_add_epi32(high, half), verticalShift);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(low, high), zero);
        if (i + 8 <= channels) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), bytes);
        } else {
            const int last = _mm_cvtsi128_si32(bytes);
            std::memcpy(out + i, &last, 4);
        }
    }
#else
    constexpr quint32 half = 1u << (verticalShift - 1);
    for (size_t i = 0; i < channels; ++i) {
        quint32 sum = half;
        for (int k = 0; k < count; ++k)
            sum += quint32(rows[k][i]) * weights[k];
        out[i] = uchar(sum >> verticalShift);
    }
#endif
}

QImage::Format workingFormat(const QImage& image)
{
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32_Premultiplied)
        return image.format();
    return image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
}

// Writes rows [top, bottom) of `result` from `image`, converting each source row to `format` first
// when that is not the image's own. Keeps its own ring of resized rows, so two bands can run at once.
void scaleBand(const QImage& image, QImage::Format format, const QList<QRgb>& colours, const Taps& across,
               const Taps& down, int top, int bottom, QImage& result)
{
    const size_t channels = 4 * size_t(result.width());
    // Whole groups of 8 values for the vertical pass to read.
    const size_t rowValues = (channels + 7) / 8 * 8;
    // The rows one target row takes are consecutive, so a ring of `down.widest` resized rows holds
    // them all, and a source row shared by two target rows is resized once.
    const int ringRows = down.widest;
    std::vector<qint16> resized(rowValues * size_t(ringRows));
    std::vector<int> rowInSlot(size_t(ringRows), -1);
    std::vector<const qint16*> rows(static_cast<size_t>(ringRows));
    const bool converted = format != image.format();
    // Through the pixels' own pointer: scanLine() on a shared image would detach it, from two threads.
    uchar* const target = const_cast<uchar*>(result.constBits());

    const auto resizedRow = [&](int y) {
        const size_t slot = size_t(y % ringRows);
        qint16* out = resized.data() + slot * rowValues;
        if (rowInSlot[slot] == y)
            return out;
        rowInSlot[slot] = y;
        if (!converted) {
            scaleRow(image.constScanLine(y), across, out);
            return out;
        }
        // One row is converted at a time: Qt splits a whole image's conversion over its shared pool.
        QImage row(image.constScanLine(y), image.width(), 1, image.bytesPerLine(), image.format());
        row.setColorTable(colours);
        scaleRow(row.convertToFormat(format).constBits(), across, out);
        return out;
    };

    for (int y = top; y < bottom; ++y) {
        const int first = down.first[size_t(y)];
        const int from = down.offsets[size_t(y)];
        const int count = down.offsets[size_t(y) + 1] - from;
        for (int k = 0; k < count; ++k)
            rows[size_t(k)] = resizedRow(first + k);
        addRows(rows.data(), down.weights.data() + from, count, channels,
                target + qsizetype(y) * result.bytesPerLine());
    }
}

std::atomic<int> helpersStarted{0};

// A photo's worth is split with one thread of its own; a small image is not worth a thread. A
// background worker keeps its resize to itself: a thread started for one call joins the scheduler
// level with the threads already running, so even under the idle policy it can hold the main
// thread's processor until the next tick (4 ms at 250 Hz) before the main thread gets it back.
bool worthAHelper(const QSize& size)
{
    constexpr qint64 worthSplitting = 256 * 1024;
    return qint64(size.width()) * size.height() >= worthSplitting && size.height() >= 2 &&
           std::thread::hardware_concurrency() >= 2 && !OperationQueue::isBackgroundWorkerThread();
}
} // namespace

int AreaAveragingScaler::helperThreadsStartedForTesting()
{
    return helpersStarted.load();
}

QImage AreaAveragingScaler::scaled(const QImage& image, const QSize& size)
{
    if (image.isNull() || size.isEmpty())
        return {};
    if (image.size() == size)
        return image;
    const QImage::Format format = workingFormat(image);
    QImage result(size, format);
    if (result.isNull())
        return {};
    BandedImageConversion::copyMetadata(image, result);

    const Taps across = tapsFor(image.width(), size.width());
    const Taps down = tapsFor(image.height(), size.height());
    const QList<QRgb> colours = image.colorTable();
    const auto band = [&](int top, int bottom) {
        scaleBand(image, format, colours, across, down, top, bottom, result);
    };
    if (!worthAHelper(size)) {
        band(0, size.height());
        return result;
    }
    const int half = size.height() / 2;
    std::optional<std::thread> helper;
    try {
        helper.emplace(band, 0, half);
        ++helpersStarted;
    } catch (const std::system_error&) {
        band(0, half);
    }
    band(half, size.height());
    if (helper)
        helper->join();
    return result;
}
