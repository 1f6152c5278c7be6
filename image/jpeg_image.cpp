#include "image/jpeg_image.h"

#include <bit>
#include <cstring>

#include <jerror.h>

#include "support/files.h"

namespace {

constexpr int quality = 90;

// One row of VM pixels into blue, green, red bytes.
void storeRow(const std::int32_t* from, std::uint8_t* to, std::int32_t count) {
    std::int32_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // The low three bytes of each value already lie as blue, green, red:
        // four pixels go out as three words, each stored on its own (one
        // wider store of the three would wait for them to reach memory).
        for (; x + 4 <= count; x += 4) {
            auto p0 = static_cast<std::uint32_t>(from[x]);
            auto p1 = static_cast<std::uint32_t>(from[x + 1]);
            auto p2 = static_cast<std::uint32_t>(from[x + 2]);
            auto p3 = static_cast<std::uint32_t>(from[x + 3]);
            std::uint32_t w0 = (p0 & 0xFFFFFFu) | (p1 << 24);
            std::uint32_t w1 = ((p1 >> 8) & 0xFFFFu) | (p2 << 16);
            std::uint32_t w2 = ((p2 >> 16) & 0xFFu) | (p3 << 8);
            std::memcpy(to, &w0, 4);
            std::memcpy(to + 4, &w1, 4);
            std::memcpy(to + 8, &w2, 4);
            to += 12;
        }
    }
    for (; x < count; ++x) {
        auto value = static_cast<std::uint32_t>(from[x]);
        to[0] = static_cast<std::uint8_t>(value);
        to[1] = static_cast<std::uint8_t>(value >> 8);
        to[2] = static_cast<std::uint8_t>(value >> 16);
        to += 3;
    }
}

FileDestination* destinationOf(j_compress_ptr compressor) {
    return reinterpret_cast<FileDestination*>(compressor->dest);
}

// The message of the error manager's current code, as "Error: %s\n".
void printJpegMessage(j_common_ptr compressor) {
    char text[JMSG_LENGTH_MAX];
    compressor->err->format_message(compressor, text);
    std::printf("Error: %s\n", text);
    std::fflush(stdout);  // the process may end without ever flushing it
}

}  // namespace

void FileDestination::init_destination(j_compress_ptr compressor) {
    FileDestination* destination = destinationOf(compressor);
    destination->buffer = static_cast<JOCTET*>(
        compressor->mem->alloc_small(reinterpret_cast<j_common_ptr>(compressor), JPOOL_IMAGE, bufferBytes));
    destination->manager.next_output_byte = destination->buffer;
    destination->manager.free_in_buffer = bufferBytes;
}

boolean FileDestination::empty_output_buffer(j_compress_ptr compressor) {
    FileDestination* destination = destinationOf(compressor);
    constexpr auto whole = static_cast<std::int32_t>(bufferBytes);
    if (writeBytes(destination->file, destination->buffer, whole) != whole) ERREXIT(compressor, JERR_FILE_WRITE);
    destination->manager.next_output_byte = destination->buffer;
    destination->manager.free_in_buffer = bufferBytes;
    return TRUE;
}

void FileDestination::term_destination(j_compress_ptr compressor) {
    FileDestination* destination = destinationOf(compressor);
    auto count = static_cast<std::int32_t>(bufferBytes - destination->manager.free_in_buffer);
    if (count > 0 && writeBytes(destination->file, destination->buffer, count) != count)
        ERREXIT(compressor, JERR_FILE_WRITE);
}

void attachFileDestination(j_compress_ptr compressor, HANDLE file) {
    FileDestination* destination = destinationOf(compressor);
    if (destination == nullptr || destination->manager.init_destination != FileDestination::init_destination) {
        destination = static_cast<FileDestination*>(compressor->mem->alloc_small(
            reinterpret_cast<j_common_ptr>(compressor), JPOOL_PERMANENT, sizeof(FileDestination)));
        compressor->dest = &destination->manager;
    }
    destination->manager.init_destination = FileDestination::init_destination;
    destination->manager.empty_output_buffer = FileDestination::empty_output_buffer;
    destination->manager.term_destination = FileDestination::term_destination;
    destination->file = file;
    destination->buffer = nullptr;
}

void printJpegError(j_common_ptr compressor) {
    printJpegMessage(compressor);
    std::longjmp(reinterpret_cast<JpegErrorManager*>(compressor->err)->abandon, 1);
}

JpegImage::~JpegImage() = default;

void JpegImage::storePixels(const std::int32_t* values) {
    if (width <= 0 || height <= 0) return;
    std::uint8_t* row = pixelAddress(0, 0);
    for (std::int32_t r = 0; r < height; ++r) {
        storeRow(values + static_cast<std::ptrdiff_t>(r) * width, row, width);
        row = nextRow();
    }
}

bool JpegImage::compress(jpeg_compress_struct& compressor, JpegErrorManager& errors) {
    // Nothing that lives in a register is used once printJpegError has come
    // back here.
    if (setjmp(errors.abandon) != 0) return false;

    jpeg_create_compress(&compressor);
    compressor.image_width = static_cast<JDIMENSION>(width);
    compressor.image_height = static_cast<JDIMENSION>(height);
    compressor.input_components = 3;
    compressor.in_color_space = JCS_EXT_BGR;  // the block's byte order: rows go in as they lie
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, quality, TRUE);
    // What the defaults already are, and what the files rely on.
    compressor.optimize_coding = FALSE;
    compressor.dct_method = JDCT_ISLOW;
    compressor.restart_interval = 0;
    compressor.restart_in_rows = 0;
    compressor.smoothing_factor = 0;

    attachFileDestination(&compressor, outputFile);
    jpeg_start_compress(&compressor, TRUE);
    while (compressor.next_scanline < compressor.image_height) {
        JSAMPROW row = pixelAddress(0, static_cast<std::int32_t>(compressor.next_scanline));
        if (jpeg_write_scanlines(&compressor, &row, 1) != 1) return false;  // the destination never suspends
    }
    jpeg_finish_compress(&compressor);
    return true;
}

int JpegImage::save(const char* fileName) {
    outputFile = createForWriting(fileName, 1);
    if (outputFile == INVALID_HANDLE_VALUE) {
        outputFile = nullptr;
        return 0;
    }

    jpeg_compress_struct compressor;
    std::memset(&compressor, 0, sizeof compressor);
    JpegErrorManager errors;
    compressor.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = printJpegError;

    bool finished = compress(compressor, errors);
    jpeg_destroy_compress(&compressor);
    HANDLE file = outputFile;
    outputFile = nullptr;
    if (!finished) {
        discardFile(file);
        return 0;
    }
    if (closeFile(file) == 1) return 1;
    // The file's buffering held the last bytes back, and they did not get
    // out: to the user this is the same write error.
    errors.manager.msg_code = JERR_FILE_WRITE;
    printJpegMessage(reinterpret_cast<j_common_ptr>(&compressor));
    return 0;
}
