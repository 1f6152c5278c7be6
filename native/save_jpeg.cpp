#include <memory>
#include <new>

#include "image/jpeg_image.h"
#include "native/VornNative.h"
#include "native/conversion.h"

// The picture arrives as width * height values 0xRRGGBB, top row first.
VORN_EXPORT std::int32_t VornNative_saveJPEG(vm::Handle, vm::Handle jpegFile, vm::Handle pixels, std::int32_t width,
                                             std::int32_t height) {
    NameBuffer name;
    if (!convertName(jpegFile, name)) return 0;
    // Never read past the array: it must hold every pixel that is asked for.
    if (pixels == 0 || width < 0 || height < 0) return 0;
    std::int64_t count = static_cast<std::int64_t>(width) * height;
    if (count > vm::arrayLength(pixels)) return 0;

    std::unique_ptr<JpegImage> image(new (std::nothrow) JpegImage);
    if (!image) return 0;
    image->setFormat(width, height, RasterImage::colourKind);
    // An empty picture has no block to get; the library refuses it with its
    // own message.
    if (count > 0) {
        if (image->allocatePixels() != 1) return 0;
        image->storePixels(vm::intElements(pixels));
    }
    return image->save(name);
}
