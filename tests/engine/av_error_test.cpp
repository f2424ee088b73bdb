#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"

namespace clipwright {
namespace {

struct ErrorCase {
    const char* label; // the test's name: the error's symbol
    int code;
    const char* text;
};

class OpenErrorTextTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(OpenErrorTextTest, FillsTheFileName) {
    EXPECT_EQ(OpenErrorText("clip.avi", GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, OpenErrorTextTest,
    ::testing::Values(ErrorCase{"INVALIDDATA", AVERROR_INVALIDDATA, "clip.avi: Unknown format"},
                      ErrorCase{"EILSEQ", AVERROR(EILSEQ), "clip.avi: Unknown format"},
                      ErrorCase{"EDOM", AVERROR(EDOM),
                                "clip.avi: Incorrect image filename syntax.\n"
                                "Use '%d' to specify the image number:\n"
                                "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\n"
                                "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'."},
                      ErrorCase{"EINVAL", AVERROR(EINVAL), "clip.avi: Error while parsing header"},
                      ErrorCase{"ENOMEM", AVERROR(ENOMEM),
                                "clip.avi: memory allocation error occurred"},
                      ErrorCase{"EIO", AVERROR(EIO),
                                "clip.avi: I/O error occurred\nUsually that means that input "
                                "file is truncated and/or corrupted."},
                      ErrorCase{"ENOENT", AVERROR(ENOENT), "clip.avi: no such file or directory"},
                      ErrorCase{"EACCES", AVERROR(EACCES), "clip.avi: Error while opening file"},
                      ErrorCase{"EOF", AVERROR_EOF, "clip.avi: Error while opening file"},
                      ErrorCase{"other", -1, "clip.avi: Error while opening file"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(OpenErrorTextTest, PercentInTheFileNameIsNotAFormat) {
    EXPECT_EQ(OpenErrorText("100%d.avi", AVERROR(ENOENT)), "100%d.avi: no such file or directory");
}

TEST(FFMpegExceptionTest, CarriesTheExactText) {
    try {
        throw FFMpegException("Video encoding failed");
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Video encoding failed");
    }
    EXPECT_EQ(LibraryErrorString(AVERROR(EINVAL)), "Invalid argument");
}

} // namespace
} // namespace clipwright
