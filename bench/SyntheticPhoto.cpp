#include "SyntheticPhoto.h"

#include <algorithm>
#include <cstdint>
#include <turbojpeg.h>
#include <vector>

QByteArray SyntheticPhoto::jpeg(int width, int height)
{
    std::vector<unsigned char> pixels(size_t(width) * height * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28) - 8;
            unsigned char* p = &pixels[(size_t(y) * width + x) * 3];
            p[0] = static_cast<unsigned char>(std::clamp(x * 255 / width + grain, 0, 255));
            p[1] = static_cast<unsigned char>(std::clamp(y * 255 / height + grain, 0, 255));
            p[2] = static_cast<unsigned char>(std::clamp(((x / 40) ^ (y / 40)) * 4 % 256 + grain, 0, 255));
        }
    }
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, pixels.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90, 0);
    QByteArray bytes(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(compressor);
    return bytes;
}
