#include "framework/ImageScale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace ks {

namespace {

// The source pixels one destination pixel is made of, with their weights (summing to 1).
struct CTap {
    int first = 0;
    std::vector<float> weights;
};

std::vector<CTap> Taps(int from, int to) {
    const double scale = static_cast<double>(to) / from;
    // Growing: a tent one source pixel wide on each side; shrinking: as wide as a destination
    // pixel's footprint.
    const double radius = scale >= 1.0 ? 1.0 : 1.0 / scale;
    std::vector<CTap> taps(static_cast<std::size_t>(to));
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) / scale - 0.5;
        const int first = std::max(0, static_cast<int>(std::ceil(centre - radius)));
        const int last = std::min(from - 1, static_cast<int>(std::floor(centre + radius)));
        CTap& tap = taps[static_cast<std::size_t>(i)];
        double sum = 0;
        for (int j = first; j <= last; ++j) {
            const double w = std::max(0.0, 1.0 - std::abs(j - centre) / radius);
            tap.weights.push_back(static_cast<float>(w));
            sum += w;
        }
        if (sum <= 0) {
            // Past the edge: the nearest pixel alone.
            tap.first = std::clamp(static_cast<int>(std::lround(centre)), 0, from - 1);
            tap.weights.assign(1, 1.0f);
            continue;
        }
        tap.first = first;
        for (float& w : tap.weights)
            w = static_cast<float>(w / sum);
    }
    return taps;
}

using CPremultiplied = std::array<float, 4>;  // alpha, red, green, blue; colours times alpha

CPremultiplied Premultiply(std::uint32_t argb) {
    const float a = static_cast<float>(argb >> 24) / 255.0f;
    return {a, a * static_cast<float>((argb >> 16) & 0xFF),
            a * static_cast<float>((argb >> 8) & 0xFF), a * static_cast<float>(argb & 0xFF)};
}

std::uint32_t Straight(const CPremultiplied& p) {
    const float a = std::clamp(p[0], 0.0f, 1.0f);
    if (a <= 0.0f)
        return 0;
    auto channel = [a](float v) {
        return static_cast<std::uint32_t>(std::clamp(std::lround(v / a), 0L, 255L));
    };
    const auto alpha = static_cast<std::uint32_t>(std::lround(a * 255.0f));
    return (alpha << 24) | (channel(p[1]) << 16) | (channel(p[2]) << 8) | channel(p[3]);
}

}  // namespace

CImageRgba ScaleImage(const CImageRgba& image, int width, int height) {
    if (width < 1 || height < 1 || width > kMaxDibSide || height > kMaxDibSide || image.width < 1 ||
        image.height < 1 || image.width > kMaxDibSide || image.height > kMaxDibSide ||
        image.pixels.size() !=
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height))
        return CImageRgba{};
    const auto w = static_cast<std::size_t>(width);
    const auto sw = static_cast<std::size_t>(image.width);
    const auto sh = static_cast<std::size_t>(image.height);

    // Rows first, to the new width; then columns, to the new height.
    const std::vector<CTap> across = Taps(image.width, width);
    std::vector<CPremultiplied> rows(w * sh);
    for (std::size_t y = 0; y < sh; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            const CTap& tap = across[x];
            CPremultiplied sum{};
            for (std::size_t k = 0; k < tap.weights.size(); ++k) {
                const CPremultiplied p =
                    Premultiply(image.pixels[y * sw + static_cast<std::size_t>(tap.first) + k]);
                for (std::size_t c = 0; c < 4; ++c)
                    sum[c] += tap.weights[k] * p[c];
            }
            rows[y * w + x] = sum;
        }
    }
    const std::vector<CTap> down = Taps(image.height, height);
    CImageRgba out;
    out.width = width;
    out.height = height;
    out.pixels.resize(w * static_cast<std::size_t>(height));
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        const CTap& tap = down[y];
        for (std::size_t x = 0; x < w; ++x) {
            CPremultiplied sum{};
            for (std::size_t k = 0; k < tap.weights.size(); ++k) {
                const CPremultiplied& p = rows[(static_cast<std::size_t>(tap.first) + k) * w + x];
                for (std::size_t c = 0; c < 4; ++c)
                    sum[c] += tap.weights[k] * p[c];
            }
            out.pixels[y * w + x] = Straight(sum);
        }
    }
    return out;
}

int ScaleForDpi(int pixels, int dpi) {
    const long long scaled = (static_cast<long long>(pixels) * dpi + 48) / 96;
    return static_cast<int>(std::clamp<long long>(scaled, 1, kMaxDibSide));
}

}  // namespace ks
