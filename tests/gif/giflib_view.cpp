#include "tests/gif/giflib_view.h"

#include <gif_lib.h>

#include <cstring>

namespace gif_testing {

namespace {
// giflib has no text for some of its codes.
std::string errorText(int error) {
    const char* text = GifErrorString(error);
    return text != nullptr ? text : "giflib error " + std::to_string(error);
}
}  // namespace

GiflibPicture giflibRead(const std::string& path) {
    GiflibPicture picture;
    int error = 0;
    GifFileType* file = DGifOpenFileName(path.c_str(), &error);
    if (file == nullptr) {
        picture.error = errorText(error);
        return picture;
    }
    if (DGifSlurp(file) != GIF_OK) {
        picture.error = errorText(file->Error);
        DGifCloseFile(file, &error);
        return picture;
    }
    picture.ok = true;
    picture.version = DGifGetGifVersion(file);
    picture.width = file->SWidth;
    picture.height = file->SHeight;
    for (int i = 0; i < file->ImageCount; ++i) {
        const SavedImage& saved = file->SavedImages[i];
        GiflibFrame frame;
        frame.left = saved.ImageDesc.Left;
        frame.top = saved.ImageDesc.Top;
        frame.width = saved.ImageDesc.Width;
        frame.height = saved.ImageDesc.Height;
        frame.interlaced = saved.ImageDesc.Interlace;
        frame.pixels.assign(saved.RasterBits, saved.RasterBits + frame.width * frame.height);
        const ColorMapObject* map = saved.ImageDesc.ColorMap;
        frame.localTable = map != nullptr;
        if (map == nullptr) map = file->SColorMap;
        if (map != nullptr)
            for (int c = 0; c < map->ColorCount; ++c) {
                frame.colours.push_back(map->Colors[c].Red);
                frame.colours.push_back(map->Colors[c].Green);
                frame.colours.push_back(map->Colors[c].Blue);
            }
        GraphicsControlBlock control;
        if (DGifSavedExtensionToGCB(file, i, &control) == GIF_OK) {
            frame.transparentIndex = control.TransparentColor;
            frame.disposal = control.DisposalMode;
        }
        picture.frames.push_back(frame);
    }
    DGifCloseFile(file, &error);
    return picture;
}

Expected expectedRead(const GiflibPicture& picture, int wanted) {
    Expected e;
    e.width = picture.width;
    e.height = picture.height;
    e.pixels.assign(static_cast<std::size_t>(e.width) * e.height, 0);
    e.palette.assign(768, 0);
    for (int i = 0; i <= wanted && i < static_cast<int>(picture.frames.size()); ++i) {
        const GiflibFrame& f = picture.frames[i];
        // Tables replace the start of the palette, and what a graphic
        // control extension declares stays for the later frames.
        if (!f.colours.empty())
            std::memcpy(e.palette.data(), f.colours.data(), f.colours.size() < 768 ? f.colours.size() : 768);
        if (f.transparentIndex >= 0) {
            e.hasTransparent = true;
            e.transparentIndex = f.transparentIndex;
        }
        if ((f.disposal << 2) & 8) e.restore = true;
        if (i < wanted) continue;
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                int sx = f.left + x, sy = f.top + y;
                if (sx >= e.width || sy >= e.height) continue;
                std::uint8_t& target = e.pixels[static_cast<std::size_t>(sy) * e.width + sx];
                if (e.restore) target = e.hasTransparent ? static_cast<std::uint8_t>(e.transparentIndex) : 0;
            }
        }
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                int sx = f.left + x, sy = f.top + y;
                if (sx >= e.width || sy >= e.height) continue;
                std::uint8_t p = f.pixels[static_cast<std::size_t>(y) * f.width + x];
                if (i > 0 && e.hasTransparent && p == e.transparentIndex) continue;
                e.pixels[static_cast<std::size_t>(sy) * e.width + sx] = p;
            }
        }
    }
    return e;
}

std::vector<std::uint8_t> screenPixels(RasterImage& image) {
    std::vector<std::uint8_t> out;
    if (image.pixels == nullptr) return out;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.pixelAddress(0, y);
        out.insert(out.end(), row, row + image.width);
    }
    return out;
}

void makePicture(GifImage& image, int width, int height, const std::vector<std::uint8_t>& pixels) {
    image.setFormat(width, height, RasterImage::paletteKind);
    image.allocatePixels();
    image.allocatePalette();
    for (int i = 0; i < 768; ++i) image.palette[i] = static_cast<std::uint8_t>(i * 7);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.pixelAddress(0, y), pixels.data() + static_cast<std::size_t>(y) * width,
                    static_cast<std::size_t>(width));
}

WrittenImage parseWritten(const std::string& bytes) {
    WrittenImage w;
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t n = bytes.size();
    if (n < 13 || std::memcmp(b, "GIF89a", 6) != 0) return w;
    std::size_t at = 13;
    if (b[10] & 0x80) at += 3u * (1u << ((b[10] & 7) + 1));
    if (at < n && b[at] == 0x21) at += 8;
    if (at + 11 > n || b[at] != 0x2C) return w;
    at += 10;
    w.minimumCodeSize = b[at++];
    while (at < n) {
        int count = b[at++];
        if (count == 0) {
            w.ok = at < n && b[at] == 0x3B && at + 1 == n;
            return w;
        }
        if (at + count > n) return w;
        w.blockSizes.push_back(count);
        w.data.insert(w.data.end(), b + at, b + at + count);
        at += count;
    }
    return w;
}

}  // namespace gif_testing
