#pragma once

#include <QByteArray>

// A JPEG of smooth gradients with fine texture: it compresses and decodes like a photo, unlike
// flat colour or pure noise. For the benchmarks that decode photos.
class SyntheticPhoto {
public:
    static QByteArray jpeg(int width, int height);
};
