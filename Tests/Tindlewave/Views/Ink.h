#pragma once
// How well something drawn stands out: the contrast ratio of two colours and the colour in a
// picture that stands out most from its background.

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cmath>

namespace tindlewave::testkit {

inline double luminance(const QColor& color) {
    const auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

inline double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The pixel of `image` (laid over `background` where it is translucent) that contrasts most with
// `background`.
inline QColor ink(const QImage& image, const QColor& background) {
    QColor best = background;
    double bestContrast = 1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const double a = pixel.alphaF();
            const QColor over = QColor::fromRgbF(pixel.redF() * a + background.redF() * (1 - a),
                                                 pixel.greenF() * a + background.greenF() * (1 - a),
                                                 pixel.blueF() * a + background.blueF() * (1 - a));
            if (const double c = contrast(over, background); c > bestContrast) {
                best = over;
                bestContrast = c;
            }
        }
    return best;
}

}  // namespace tindlewave::testkit
