#include "files/png.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string_view>

#include "files/os.h"
#include "support/panic_error.h"
#include "support/png_reader.h"

namespace zobra {
namespace {

namespace fs = std::filesystem;
using testing::png_chunks;
using testing::stored_stream;

// A picture in which every pixel differs from its neighbours, so that a
// swapped channel, row or column shows in a decoded copy.
std::vector<std::uint32_t> test_pattern(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint32_t> pixels(std::size_t{width} * height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            pixels[std::size_t{y} * width + x] =
                ((x * 7 + y) & 0xFFu) << 16 | ((y * 13 + x * 3) & 0xFFu) << 8 | ((x ^ y) & 0xFFu);
    return pixels;
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class PngFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zobra-png-" + std::to_string(os::process_id()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path save(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = dir_ / name;
        testing::write_file(path, bytes);
        return path;
    }

    fs::path dir_;
};

TEST(PngChecksums, MatchTheirPublishedCheckValues) {
    EXPECT_EQ(crc32(bytes_of("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32({}), 0u);
    EXPECT_EQ(adler32(bytes_of("Wikipedia")), 0x11E60398u);
    EXPECT_EQ(adler32({}), 1u);
}

TEST(PngChecksums, AdlerStaysExactOverLongRunsOfHighBytes) {
    // Long runs of 0xFF are where a sum reduced too late would overflow.
    const std::vector<std::uint8_t> bytes(1'000'000, 0xFF);
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(adler32(bytes), b << 16 | a);
}

TEST(PngLayout, AScreenshotIsExactlyTheExpectedSizeIn27StoredBlocks) {
    const std::vector<std::uint8_t> file = encode_png(960, 600, test_pattern(960, 600));
    EXPECT_EQ(file.size(), 1'728'798u);

    const auto chunks = png_chunks(file);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[2].type, "IEND");
    for (const auto& chunk : chunks) EXPECT_TRUE(chunk.crc_ok) << chunk.type;

    const auto stream = stored_stream(chunks[1].data);
    ASSERT_TRUE(stream.well_formed);
    EXPECT_EQ(stream.header[0], 0x78);
    EXPECT_EQ(stream.header[1], 0x01);
    EXPECT_EQ(stream.data.size(), 1'728'600u);
    ASSERT_EQ(stream.blocks.size(), 27u);
    for (std::size_t k = 0; k + 1 < stream.blocks.size(); ++k) {
        EXPECT_EQ(stream.blocks[k].length, 65535u);
        EXPECT_FALSE(stream.blocks[k].final);
        EXPECT_TRUE(stream.blocks[k].complement_ok);
    }
    EXPECT_EQ(stream.blocks.back().length, 1'728'600u - 26u * 65535u);
    EXPECT_TRUE(stream.blocks.back().final);
    EXPECT_EQ(stream.adler, adler32(stream.data));
}

TEST(PngLayout, TheHeaderNamesSizeDepthAndTruecolour) {
    const auto chunks = png_chunks(encode_png(300, 2, test_pattern(300, 2)));
    ASSERT_FALSE(chunks.empty());
    const std::vector<std::uint8_t> expected = {0, 0, 1, 44, 0, 0, 0, 2, 8, 2, 0, 0, 0};
    EXPECT_EQ(chunks[0].data, expected);
}

TEST(PngLayout, RowsStartWithFilterZeroAndCarryRedGreenBlue) {
    const std::vector<std::uint32_t> pixels = {0x112233, 0x445566, 0x778899, 0xAABBCC};
    const auto chunks = png_chunks(encode_png(2, 2, pixels));
    const auto stream = stored_stream(chunks.at(1).data);
    const std::vector<std::uint8_t> expected = {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66,
                                                0, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(stream.data, expected);
}

TEST(PngLayout, ASpritePictureIsOneFinalBlockOf6960Bytes) {
    const std::vector<std::uint8_t> file = encode_png(48, 48, test_pattern(48, 48));
    EXPECT_EQ(file.size(), 7'028u);
    const auto chunks = png_chunks(file);
    const auto stream = stored_stream(chunks.at(1).data);
    ASSERT_EQ(stream.blocks.size(), 1u);
    EXPECT_EQ(stream.blocks[0].length, 6'960u);
    EXPECT_EQ(chunks[1].data[2], 1) << "the only block is marked final";
}

TEST(PngLayout, BlocksSplitOnlyBeyond65535RawBytes) {
    // 771 rows of 28 pixels are 771 × 85 = 65,535 raw bytes: one final block.
    auto stream = stored_stream(png_chunks(encode_png(28, 771, test_pattern(28, 771))).at(1).data);
    ASSERT_EQ(stream.blocks.size(), 1u);
    EXPECT_EQ(stream.blocks[0].length, 65535u);
    EXPECT_TRUE(stream.blocks[0].final);

    // 256 rows of 85 pixels are 65,536: a full block, then one byte, final.
    stream = stored_stream(png_chunks(encode_png(85, 256, test_pattern(85, 256))).at(1).data);
    ASSERT_EQ(stream.blocks.size(), 2u);
    EXPECT_EQ(stream.blocks[0].length, 65535u);
    EXPECT_FALSE(stream.blocks[0].final);
    EXPECT_EQ(stream.blocks[1].length, 1u);
    EXPECT_TRUE(stream.blocks[1].final);
}

TEST(PngLayout, EveryFileEndsWithTheSameTwelveByteIend) {
    const std::vector<std::uint8_t> iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    for (const auto& [w, h] : {std::pair{1u, 1u}, {48u, 48u}, {960u, 600u}}) {
        const auto file = encode_png(w, h, test_pattern(w, h));
        ASSERT_GE(file.size(), 12u);
        EXPECT_EQ(std::vector<std::uint8_t>(file.end() - 12, file.end()), iend) << w << "x" << h;
    }
}

TEST(PngLayout, AnEmptyPictureStillEndsItsDataWithAFinalBlock) {
    const auto stream = stored_stream(png_chunks(encode_png(0, 0, {})).at(1).data);
    ASSERT_TRUE(stream.well_formed);
    ASSERT_EQ(stream.blocks.size(), 1u);
    EXPECT_TRUE(stream.blocks[0].final);
    EXPECT_EQ(stream.blocks[0].length, 0u);
    EXPECT_EQ(stream.adler, 1u);
}

TEST(PngLayout, AListOfTheWrongLengthIsRefusedRatherThanWrittenBroken) {
    EXPECT_THROW(encode_png(4, 4, test_pattern(4, 3)), testing::PanicError);
    EXPECT_THROW(encode_png(4, 4, test_pattern(5, 4)), testing::PanicError);
}

TEST(PngLayout, APictureWithTransparencyIsTruecolourWithAlphaInRedGreenBlueAlphaOrder) {
    const std::vector<std::uint32_t> pixels = {0x00112233, 0x80445566, 0xFF778899, 0x01AABBCC};
    const auto chunks = png_chunks(encode_png_alpha(2, 2, pixels));
    ASSERT_EQ(chunks.size(), 3u);
    const std::vector<std::uint8_t> header = {0, 0, 0, 2, 0, 0, 0, 2, 8, 6, 0, 0, 0};
    EXPECT_EQ(chunks[0].data, header);
    const auto stream = stored_stream(chunks[1].data);
    ASSERT_TRUE(stream.well_formed);
    const std::vector<std::uint8_t> expected = {0, 0x11, 0x22, 0x33, 0x00, 0x44, 0x55, 0x66, 0x80,
                                                0, 0x77, 0x88, 0x99, 0xFF, 0xAA, 0xBB, 0xCC, 0x01};
    EXPECT_EQ(stream.data, expected);
    EXPECT_EQ(stream.adler, adler32(stream.data));
    EXPECT_THROW(encode_png_alpha(2, 2, test_pattern(2, 1)), testing::PanicError);
}

TEST_F(PngFiles, RealDecodersReadBackExactlyThePixelsWritten) {
    for (const auto& [w, h] :
         {std::pair{960u, 600u}, {48u, 48u}, {28u, 771u}, {85u, 256u}, {1u, 1u}}) {
        const auto pixels = test_pattern(w, h);
        const fs::path path =
            save(std::to_string(w) + "x" + std::to_string(h) + ".png", encode_png(w, h, pixels));
        EXPECT_TRUE(testing::pngcheck_accepts(path)) << path;
        const auto decoded = testing::decode_with_imagemagick(path, w, h);
        ASSERT_TRUE(decoded.has_value()) << path;
        EXPECT_TRUE(*decoded == pixels) << path;
    }
}

TEST_F(PngFiles, RealDecodersReadBackTheOpacityOfAPictureWithTransparency) {
    // Every fourth pixel transparent, the others in steps of opacity, so that
    // a dropped or misplaced alpha byte shows.
    for (const auto& [w, h] : {std::pair{256u, 256u}, {16u, 16u}, {85u, 193u}}) {
        std::vector<std::uint32_t> pixels = test_pattern(w, h);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] |= (i % 4 == 0 ? 0u : static_cast<std::uint32_t>(i * 37 % 256)) << 24;
        const fs::path path = save(std::to_string(w) + "x" + std::to_string(h) + "-alpha.png",
                                   encode_png_alpha(w, h, pixels));
        EXPECT_TRUE(testing::pngcheck_accepts(path)) << path;
        const testing::CommandResult raw = testing::run_command(
            "/usr/bin/convert " + testing::shell_quote(path.string()) + " -depth 8 rgba:-");
        ASSERT_EQ(raw.status, 0) << path;
        ASSERT_EQ(raw.output.size(), pixels.size() * 4) << path;
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const auto byte = [&](std::size_t k) {
                return static_cast<std::uint32_t>(
                    static_cast<unsigned char>(raw.output[4 * i + k]));
            };
            const std::uint32_t alpha = pixels[i] >> 24;
            // A fully transparent pixel's colour is free for a decoder to drop.
            const std::uint32_t decoded =
                byte(3) << 24 | (alpha == 0 ? 0u : byte(0) << 16 | byte(1) << 8 | byte(2));
            const std::uint32_t wanted = alpha == 0 ? 0u : pixels[i];
            if (decoded != wanted) ++wrong;
        }
        EXPECT_EQ(wrong, 0u) << path;
    }
}

}  // namespace
}  // namespace zobra
