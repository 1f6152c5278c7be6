// JPEG writing: a 3-byte picture compressed through libjpeg into a baseline
// JFIF file at quality 90.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

#include "image/raster_image.h"
#include "platform/win_types.h"

// The destination manager that hands the compressed bytes to a file handle,
// 4096 at a time. The library reaches the record through its dest pointer,
// so the interface comes first.
struct FileDestination {
    jpeg_destination_mgr manager;
    HANDLE file;
    JOCTET* buffer;  // from the image pool, taken when an image starts

    static constexpr std::size_t bufferBytes = 4096;

    static void init_destination(j_compress_ptr compressor);
    // A write that does not go out whole raises JERR_FILE_WRITE, which ends
    // the compression: the rest of the picture would only be thrown away.
    static boolean empty_output_buffer(j_compress_ptr compressor);
    static void term_destination(j_compress_ptr compressor);
};

// Gives the compressor a FileDestination writing to file. The record comes
// from the permanent pool; a compressor that has one keeps it.
void attachFileDestination(j_compress_ptr compressor, HANDLE file);

// The error manager of one save: the library's standard routines, with
// error_exit replaced by printJpegError.
struct JpegErrorManager {
    jpeg_error_mgr manager;  // first: the library reaches the record through err
    std::jmp_buf abandon;    // where printJpegError resumes save
};

// Prints the library's message as "Error: %s\n" on standard output and jumps
// back into save through the JpegErrorManager's abandon: after an error the
// library cannot go on, and a write error leaves nothing worth finishing.
// Never ends the process.
void printJpegError(j_common_ptr compressor);

class JpegImage : public RasterImage {
public:
    HANDLE outputFile = nullptr;  // meaningful only while save runs

    JpegImage() = default;
    ~JpegImage() override;

    // Stores width * height VM pixels (0xRRGGBB, bits 24-31 ignored; top row
    // first) into the pixel block, which must exist.
    void storePixels(const std::int32_t* values);

    // Writes the pixel block to fileName. 1 when the file was written whole
    // and put in place. 0 when it could not be created (traced only), when
    // the library gave up (its message printed) or when a write failed; the
    // file is then discarded and an existing file of that name stays as it
    // was.
    int save(const char* fileName);

private:
    // The library's part of save; false when printJpegError abandoned it.
    bool compress(jpeg_compress_struct& compressor, JpegErrorManager& errors);
};
