#include "image/raster_image.h"

#include <climits>

#include "support/errors.h"
#include "support/memory.h"

namespace {
constexpr std::int64_t largestRow = 65532;  // the 16-bit stride holds no longer row
}

RasterImage::~RasterImage() {
    if (ownsPixels == 1) freeBlock(pixels);
    if (ownsPalette == 1) freeBlock(palette);
}

void RasterImage::setFormat(std::int32_t w, std::int32_t h, std::int32_t kind) {
    pixelKind = kind;
    width = w;
    height = h;
    bytesPerPixel = kind == paletteKind ? 1 : 3;
    // Wrapping arithmetic: the stride keeps 16 bits, and formatFits() refuses
    // what does not fit before anything is allocated from it.
    rowBytes = static_cast<std::int32_t>(static_cast<std::uint32_t>(w) * static_cast<std::uint32_t>(bytesPerPixel));
    stride = static_cast<std::int32_t>((static_cast<std::uint32_t>(rowBytes) + 3) & 0xFFFC);
    totalSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(h) * static_cast<std::uint32_t>(stride));
}

bool RasterImage::formatFits() const {
    std::int64_t row = static_cast<std::int64_t>(width) * bytesPerPixel;
    if (width < 0 || height < 0 || row > largestRow) return false;
    return static_cast<std::int64_t>(height) * ((row + 3) & ~std::int64_t(3)) <= INT32_MAX;
}

int RasterImage::allocatePixels() {
    if (ownsPixels == 1) return 1;
    if (!formatFits()) {
        showError("Sorry, not enough memory");
        pixels = nullptr;
        return 0;
    }
    pixels = static_cast<std::uint8_t*>(allocBlock(static_cast<std::uint32_t>(totalSize), blockMovableZeroed));
    if (pixels == nullptr) return 0;
    ownsPixels = 1;
    rowCursor = pixels;
    return 1;
}

int RasterImage::allocatePalette() {
    if (ownsPalette == 1) return 1;
    palette = static_cast<std::uint8_t*>(allocBlock(paletteBytes, blockMovableZeroed));
    if (palette == nullptr) return 0;
    ownsPalette = 1;
    return 1;
}

std::uint8_t* RasterImage::pixelAddress(std::int32_t x, std::int32_t y) {
    std::int32_t row = bottomUp == 1 ? height - y - 1 : y;
    rowCursor = pixels + static_cast<std::ptrdiff_t>(row) * stride + static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
    return rowCursor;
}

std::uint8_t* RasterImage::nextRow() {
    rowCursor += bottomUp == 1 ? -static_cast<std::ptrdiff_t>(stride) : static_cast<std::ptrdiff_t>(stride);
    return rowCursor;
}
