// The content check over each system's own adapter, so that Linux and Windows
// are held to one table: hostile files made here (compression bombs from a
// repeated deflate block, headers claiming huge images, a wrong Adler-32,
// entities that expand without end), and every file of the conformance
// suites when they lie beside the source (KQGET_TESTDATA).
#include "platform/native_ports.h"
#include "tests/support/hostile_files.h"
#include "tests/support/temp_dir.h"
#include "tools/card-service/byte_formats.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace kqget {
namespace {

// A sound 8-bit RGB image with `extra` chunks after IHDR.
std::string pngWith(std::uint32_t side, std::string_view extra = {})
{
    const std::string raw(side * (1 + 3 * side), '\0');
    std::string png = testing::pngFile(side, side, testing::storedZlib(raw));
    return png.insert(33, extra);
}

std::string pngAround(std::uint32_t width, std::uint32_t height, std::string_view zlib)
{
    return testing::pngFile(width, height, zlib);
}

std::string nested(int depth)
{
    std::string xml;
    for (int i = 0; i < depth; ++i) {
        xml += "<a>";
    }
    for (int i = 0; i < depth; ++i) {
        xml += "</a>";
    }
    return xml;
}

TEST(NativeContentCheckTest, HostileFilesAreRefusedForWhatIsWrong)
{
    const std::string sound = pngWith(16);
    const std::string rows64(64 * (1 + 64 * 3), '\0');
    std::string badAdler = testing::storedZlib(rows64);
    badAdler.back() ^= 0x01;
    const struct
    {
        const char* name;
        CardFileKind kind;
        std::string bytes;
        std::optional<std::string> damage;
    } cases[] = {
        {"a sound image", CardFileKind::Illustration, sound, std::nullopt},
        {"a zTXt bomb", CardFileKind::Illustration,
         pngWith(16,
                 testing::pngChunk("zTXt", std::string("Comment\0\0", 9) + testing::zeroBomb(64))),
         "chunk zTXt: inflates to over 1 MiB"},
        {"an iCCP bomb", CardFileKind::Illustration,
         pngWith(16, testing::pngChunk("iCCP", std::string("ICC\0\0", 5) + testing::zeroBomb(64))),
         "chunk iCCP: inflates to over 1 MiB"},
        {"an iTXt bomb", CardFileKind::Illustration,
         pngWith(16, testing::pngChunk("iTXt", std::string("Comment\0\1\0en\0\0", 14) +
                                                   testing::zeroBomb(64))),
         "chunk iTXt: inflates to over 1 MiB"},
        {"an uncompressed iTXt", CardFileKind::Illustration,
         pngWith(16, testing::pngChunk("iTXt", std::string("Comment\0\0\0en\0\0plain", 19))),
         std::nullopt},
        {"a zTXt of another method", CardFileKind::Illustration,
         pngWith(16, testing::pngChunk("zTXt", std::string("Comment\0\1x", 10))),
         "chunk zTXt: unknown compression method"},
        {"a zTXt going on after its stream", CardFileKind::Illustration,
         pngWith(16, testing::pngChunk("zTXt", std::string("Comment\0\0", 9) +
                                                   testing::storedZlib("text") + "more")),
         "chunk zTXt: data after the end of its zlib stream"},
        {"a 30000 x 30000 header", CardFileKind::Illustration,
         pngAround(30000, 30000, testing::zeroBomb(64)), "image too large (30000 x 30000)"},
        {"over 64 Mi pixels", CardFileKind::Illustration,
         pngAround(16384, 4097, testing::zeroBomb(1)), "image too large (16384 x 4097)"},
        {"twice the header's image data", CardFileKind::Illustration,
         pngAround(64, 64, testing::storedZlib(rows64 + rows64)),
         "image data longer than its 64 x 64 image"},
        {"image data going on after its stream", CardFileKind::Illustration,
         pngAround(64, 64, testing::storedZlib(rows64) + "more"),
         "image data goes on after its zlib stream ends"},
        {"a wrong Adler-32", CardFileKind::Illustration, pngAround(64, 64, badAdler),
         "image data: incorrect data check"},
        {"no Adler-32", CardFileKind::Illustration,
         pngAround(64, 64,
                   testing::storedZlib(rows64).substr(0, testing::storedZlib(rows64).size() - 4)),
         "image data: zlib stream cut short (no Adler-32)"},
        {"an unknown filter type", CardFileKind::Illustration,
         pngAround(64, 64, testing::storedZlib("\x05" + rows64.substr(1))),
         "image data: unknown filter type 5"},
        {"a billion laughs", CardFileKind::Xml, testing::billionLaughs(),
         "XML entity expansion over the limit"},
        {"nested 1,024 deep", CardFileKind::Xml, nested(1024), std::nullopt},
        {"nested 5,000 deep", CardFileKind::Xml, nested(5000),
         "XML nested deeper than 4096 elements"},
        {"an internal DTD subset", CardFileKind::Xml,
         "<!DOCTYPE card [<!ELEMENT card (#PCDATA)><!ENTITY n \"A1\">]>\n<card>&n;</card>\n",
         std::nullopt},
        {"an external DTD and entity, never read", CardFileKind::Xml,
         "<!DOCTYPE cards SYSTEM \"cards.dtd\" [<!ENTITY x SYSTEM \"secret.txt\">]>\n"
         "<cards>&x;</cards>\n",
         std::nullopt},
        {"a mismatched tag", CardFileKind::Xml, "<card>\n<name>\nA1</card>\n",
         "XML not well-formed at line 3: mismatched tag"},
        {"an entity its subset does not declare", CardFileKind::Xml,
         "<!DOCTYPE card [<!ENTITY n \"A1\">]>\n<card>&m;</card>\n",
         "XML not well-formed at line 2: undefined entity"},
    };
    const testing::TempDir dir;
    dir.write("secret.txt", "<not-wf");
    const auto check = makeNativeContentCheck();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir.write("file", c.bytes);
        EXPECT_EQ(check->fileDamage(dir.folder() + "file", c.kind), c.damage);
    }
}

// Every suite file as its suite says: PngSuite's names beginning with x and
// libpng's crashers damaged, the rest of PngSuite sound; the XML tests'
// not-wf documents damaged and valid ones sound.
TEST(NativeContentCheckTest, SuitesAreJudgedAsTheySay)
{
    const char* root = std::getenv("KQGET_TESTDATA");
    if (root == nullptr || !std::filesystem::is_directory(root)) {
        GTEST_SKIP() << "no conformance suites (KQGET_TESTDATA)";
    }
    const struct
    {
        const char* folder;
        CardFileKind kind;
        const char* extension;
    } suites[] = {{"pngsuite", CardFileKind::Illustration, ".png"},
                  {"libpng-crashers", CardFileKind::Illustration, ""},
                  {"xmltest/not-wf-sa", CardFileKind::Xml, ".xml"},
                  {"xmltest/valid-sa", CardFileKind::Xml, ".xml"}};
    const auto check = makeNativeContentCheck();
    int judged = 0;
    for (const auto& suite : suites) {
        for (const auto& entry :
             std::filesystem::directory_iterator(std::filesystem::path(root) / suite.folder)) {
            const std::string name = entry.path().filename().string();
            if (!entry.is_regular_file() || !name.ends_with(suite.extension)) {
                continue;
            }
            const bool damaged = std::string_view(suite.folder) != "xmltest/valid-sa" &&
                                 (std::string_view(suite.folder) != "pngsuite" || name[0] == 'x');
            const auto path = entry.path().u8string();
            const auto damage =
                check->fileDamage(std::string(path.begin(), path.end()), suite.kind);
            EXPECT_EQ(damage.has_value(), damaged)
                << suite.folder << "/" << name << ": " << damage.value_or("sound");
            ++judged;
        }
    }
    EXPECT_EQ(judged, 175 + 23 + 186 + 120);
}

} // namespace
} // namespace kqget
