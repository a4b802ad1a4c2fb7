// Comparing what a window or a skin shows with the pixels it must show.
#pragma once

#include <QImage>

#include <gtest/gtest.h>

// A rectangle of `image`, as 32-bit RGB.
inline QImage Region(const QImage& image, int x, int y, int w, int h) {
    return image.copy(x, y, w, h).convertToFormat(QImage::Format_RGB32);
}

// Compares two images pixel by pixel (RGB only) and says where they differ.
inline ::testing::AssertionResult SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << "sizes " << a.width() << "x" << a.height()
                                             << " and " << b.width() << "x" << b.height();
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF))
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
    return ::testing::AssertionSuccess();
}
