// Helpers shared by the image library's tests.
#pragma once

#include "raster/raster.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string ImagesDir() {
    const char* d = std::getenv("RASTER_IMAGES");
    return d ? d : "";
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

struct Reference {
    int width = 0, height = 0, channels = 0;
    std::vector<uint8_t> pixels; // top row first
    bool ok() const { return width > 0; }
};

inline Reference ReadReference(const std::string& path) {
    Reference r;
    std::vector<uint8_t> data = ReadBytes(path);
    size_t nl = 0;
    while (nl < data.size() && data[nl] != '\n')
        nl++;
    if (nl >= data.size())
        return r;
    std::string header(data.begin(), data.begin() + long(nl));
    if (std::sscanf(header.c_str(), "%d %d %d", &r.width, &r.height, &r.channels) != 3)
        return Reference{};
    r.pixels.assign(data.begin() + long(nl) + 1, data.end());
    return r;
}

// Compares the decoded picture with the reference; returns a description of
// the first difference, or an empty string.
inline std::string Compare(const CRaster& img, const Reference& ref, int tolerance) {
    if (img.head.biWidth != ref.width || img.head.biHeight != ref.height)
        return "size " + std::to_string(img.head.biWidth) + "x" +
               std::to_string(img.head.biHeight) + " expected " + std::to_string(ref.width) + "x" +
               std::to_string(ref.height);
    for (int y = 0; y < ref.height; y++) {
        for (int x = 0; x < ref.width; x++) {
            const uint8_t* p = &ref.pixels[size_t(y * ref.width + x) * size_t(ref.channels)];
            if (ref.channels == 4 && p[3] == 0)
                continue;
            tagRGBQUAD c = img.GetPixelColor(x, ref.height - 1 - y);
            if (std::abs(c.rgbRed - p[0]) > tolerance || std::abs(c.rgbGreen - p[1]) > tolerance ||
                std::abs(c.rgbBlue - p[2]) > tolerance)
                return "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                       std::to_string(c.rgbRed) + "," + std::to_string(c.rgbGreen) + "," +
                       std::to_string(c.rgbBlue) + " expected " + std::to_string(p[0]) + "," +
                       std::to_string(p[1]) + "," + std::to_string(p[2]);
        }
    }
    return "";
}

// A 24-bit image of a reference's pixels.
inline bool FromReference(CRaster& img, const Reference& ref) {
    if (!ref.ok() || !img.Create(unsigned(ref.width), unsigned(ref.height), 24, 0))
        return false;
    for (int y = 0; y < ref.height; y++) {
        uint8_t* row = img.GetBits() + size_t(img.effWidth) * size_t(ref.height - 1 - y);
        for (int x = 0; x < ref.width; x++) {
            const uint8_t* p = &ref.pixels[size_t(y * ref.width + x) * size_t(ref.channels)];
            row[3 * x] = p[2];
            row[3 * x + 1] = p[1];
            row[3 * x + 2] = p[0];
        }
    }
    return true;
}

// The first pixel whose colour differs by more than tolerance, or "".
inline std::string CompareImages(const CRaster& a, const CRaster& b, int tolerance = 0) {
    if (a.head.biWidth != b.head.biWidth || a.head.biHeight != b.head.biHeight)
        return "size " + std::to_string(a.head.biWidth) + "x" + std::to_string(a.head.biHeight) +
               " vs " + std::to_string(b.head.biWidth) + "x" + std::to_string(b.head.biHeight);
    for (long y = 0; y < a.head.biHeight; y++) {
        for (long x = 0; x < a.head.biWidth; x++) {
            tagRGBQUAD p = a.GetPixelColor(x, y), q = b.GetPixelColor(x, y);
            if (std::abs(p.rgbRed - q.rgbRed) > tolerance ||
                std::abs(p.rgbGreen - q.rgbGreen) > tolerance ||
                std::abs(p.rgbBlue - q.rgbBlue) > tolerance)
                return "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") " +
                       std::to_string(p.rgbRed) + "," + std::to_string(p.rgbGreen) + "," +
                       std::to_string(p.rgbBlue) + " vs " + std::to_string(q.rgbRed) + "," +
                       std::to_string(q.rgbGreen) + "," + std::to_string(q.rgbBlue);
        }
    }
    return "";
}
