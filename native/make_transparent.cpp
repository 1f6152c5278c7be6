#include <memory>
#include <new>

#include "image/gif_image.h"
#include "native/VornNative.h"
#include "native/conversion.h"

// Makes the top-left pixel's colour of a GIF file transparent and rewrites
// the file: 0 when it cannot be read as a GIF or the rewritten file could not
// be written whole (the file then stays as it was); 1 when it was rewritten
// or already declares a transparent colour (then it is left untouched).
VORN_EXPORT std::int32_t VornNative_makeTransparent(vm::Handle, vm::Handle gifFile) {
    NameBuffer name;
    if (convertName(gifFile, name) == 0) return 0;
    std::unique_ptr<GifImage> image(new (std::nothrow) GifImage());
    if (!image) return 0;
    if (image->read(name, 0) == 0) return 0;
    if (image->hasTransparent == 1) return 1;
    image->transparentIndex = *image->pixelAddress(0, 0);
    image->hasTransparent = 1;
    return image->save(name);
}
