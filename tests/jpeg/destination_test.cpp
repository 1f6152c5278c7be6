// The destination and the error routine as the library drives them.
#include <gtest/gtest.h>

#include <csetjmp>
#include <random>
#include <vector>

#include "image/jpeg_image.h"
#include "support/files.h"
#include "tests/common/test_support.h"

using testing_support::Recorder;
using testing_support::TempDir;

namespace {

struct Rows {
    int width = 256, height = 256;
    std::vector<JSAMPLE> bgr;
    Rows() : bgr(static_cast<std::size_t>(width) * height * 3) {
        std::mt19937 random(3);
        for (JSAMPLE& s : bgr) s = static_cast<JSAMPLE>(random());  // noise: many buffers
    }
};

// Compresses row by row as save does and counts the rows handed over; false
// when printJpegError jumped back.
bool compressRows(jpeg_compress_struct& compressor, JpegErrorManager& errors, HANDLE file, const Rows& rows,
                  int& fed) {
    if (setjmp(errors.abandon) != 0) return false;
    jpeg_create_compress(&compressor);
    compressor.image_width = static_cast<JDIMENSION>(rows.width);
    compressor.image_height = static_cast<JDIMENSION>(rows.height);
    compressor.input_components = 3;
    compressor.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, 90, TRUE);
    attachFileDestination(&compressor, file);
    jpeg_start_compress(&compressor, TRUE);
    while (compressor.next_scanline < compressor.image_height) {
        auto row = const_cast<JSAMPROW>(rows.bgr.data() + compressor.next_scanline * rows.width * 3);
        jpeg_write_scanlines(&compressor, &row, 1);
        ++fed;
    }
    jpeg_finish_compress(&compressor);
    return true;
}

struct Outcome {
    bool finished;
    int fed;
    std::string printed;
};

Outcome compressTo(const std::string& path, const Rows& rows) {
    HANDLE file = createForWriting(path.c_str(), 1);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    jpeg_compress_struct compressor;
    JpegErrorManager errors;
    compressor.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = printJpegError;
    Outcome outcome{false, 0, ""};
    testing::internal::CaptureStdout();
    outcome.finished = compressRows(compressor, errors, file, rows, outcome.fed);
    outcome.printed = testing::internal::GetCapturedStdout();
    jpeg_destroy_compress(&compressor);
    if (outcome.finished)
        closeFile(file);
    else
        discardFile(file);
    return outcome;
}

}  // namespace

TEST(FileDestination, WritesWholeBuffersAndTheRestAtTheEnd) {
    Rows rows;
    TempDir dir;
    fault::Scope scope;
    Outcome outcome = compressTo(dir.file("out.jpg"), rows);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.fed, rows.height);
    std::size_t size = testing_support::readFile(dir.file("out.jpg")).size();
    ASSERT_GT(size, 10 * 4096u);
    // 4096 bytes per platform write, the last piece at the close.
    EXPECT_EQ(fault::count(fault::Kind::Write), static_cast<long>((size + 4095) / 4096));
}

// The library is not made to compress the rest of a picture that can no
// longer be written: the jump comes at the failed buffer.
TEST(FileDestination, AFailedWriteJumpsBackAtOnce) {
    Rows rows;
    for (long nth : {1L, 3L}) {
        TempDir dir;
        Recorder recorder;
        fault::Scope scope;
        fault::failAt(fault::Kind::Write, nth);
        Outcome outcome = compressTo(dir.file("out.jpg"), rows);
        EXPECT_FALSE(outcome.finished);
        // One buffer of noise holds well under a tenth of the rows.
        EXPECT_LT(outcome.fed, static_cast<int>(nth + 1) * rows.height / 10) << nth;
        EXPECT_EQ(outcome.printed, "Error: Output file write error --- out of disk space?\n");
        EXPECT_EQ(recorder.boxes(), std::vector<std::string>{"Error: Cannot write file"});
        EXPECT_EQ(fault::count(fault::Kind::Write), nth);
        EXPECT_TRUE(dir.list().empty());
    }
}

TEST(FileDestination, ACompressorKeepsItsRecord) {
    jpeg_compress_struct compressor;
    JpegErrorManager errors;
    compressor.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = printJpegError;
    jpeg_create_compress(&compressor);
    attachFileDestination(&compressor, reinterpret_cast<HANDLE>(5));
    jpeg_destination_mgr* first = compressor.dest;
    attachFileDestination(&compressor, reinterpret_cast<HANDLE>(9));
    EXPECT_EQ(compressor.dest, first);
    EXPECT_EQ(reinterpret_cast<FileDestination*>(compressor.dest)->file, reinterpret_cast<HANDLE>(9));
    jpeg_destroy_compress(&compressor);
}
