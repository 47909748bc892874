// Design units: the windows are laid out in twips, 15 to the logical pixel.
#pragma once

#include <QRect>

namespace tarnwick {

inline constexpr int kTwipsPerPixel = 15;

constexpr int TwipsToPixels(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// A rectangle given as Left, Top, Width, Height in twips.
constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

} // namespace tarnwick
