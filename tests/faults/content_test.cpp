// What is stored is what the card product can use: a reply that is no card
// file, a status that is no content, a body in a coding, a damaged file on
// disk and a damaged body, each with its log line and the file as it is
// afterwards, at one job and at four.
#include "tests/faults/fault_test_fixture.h"
#include "tests/support/hostile_files.h"
#include "tools/card-service/byte_formats.h"
#include "update/card_file_kind.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace kqget {
namespace {

using testing::expectSameTree;
using testing::Fault;
using testing::FaultTest;
using testing::FileTree;

constexpr std::string_view kCard = "A1";
constexpr std::string_view kSignInPage =
    "<!DOCTYPE html>\n<html><head><title>Sign in</title></head><body><form method=post>"
    "<input name=user></form></body></html>\n";

std::string flipped(std::string bytes, std::size_t at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

// A PNG whose chunks are whole and right but whose image data stops halfway:
// what an encoder that died leaves behind.
std::string pngWithHalfItsImageData()
{
    std::string rows; // enough that half still passes the size rules
    for (int y = 0; y < 128; ++y) {
        rows += '\0' + std::string(64 * 3, '\x40');
    }
    const std::string stream = testing::storedZlib(rows);
    return testing::pngFile(64, 128, std::string_view(stream).substr(0, stream.size() / 2));
}

TEST_F(FaultTest, OnlyWhatTheCardProductCanUseIsStored)
{
    const std::string png = pngOf(kCard);
    const std::string xml = xmlOf(kCard);
    const std::string pngPath = dataFolder() + "A1/A1_full.png";
    const std::string xmlPath = dataFolder() + "A1/A1.xml";
    const std::string cutPng = png.substr(0, 11500);                  // inside an IDAT chunk
    const std::string cutXml = xml.substr(0, xml.find("<name>") + 3); // inside a tag
    const std::string idatCrc = flipped(png, 60); // a byte of the first IDAT's data
    const std::string halfImage = pngWithHalfItsImageData();
    const std::string bomXml = "\xEF\xBB\xBF\r\n  <card id=\"A1\"/>\n";
    const std::string zTxtBomb = testing::withChunkAfterHeader(
        png, testing::pngChunk("zTXt", std::string("Comment\0\0", 9) + testing::zeroBomb(3072)));
    const struct
    {
        const char* name;
        CardFileKind kind;                 // the file the case is about
        std::optional<std::string> onDisk; // that file before the run; the other is sound
        Fault fault;                       // on that file's fetch
        bool verify;
        std::string logTail;              // what follows the file's size line
        std::optional<std::string> after; // that file afterwards; none: absent
    } cases[] = {
        // Replies that are no card file.
        {"a sign-in page as the illustration",
         CardFileKind::Illustration,
         std::nullopt,
         {.body = std::string(kSignInPage)},
         false,
         "Not stored: not a PNG image",
         std::nullopt},
        {"JSON as the XML",
         CardFileKind::Xml,
         "",
         {.body = "{\"error\": \"signed out\"}"},
         false,
         "Not stored: not an XML document",
         ""},
        {"NUL bytes before the XML's markup",
         CardFileKind::Xml,
         "",
         {.body = std::string("\0\0\0<card/>", 10)},
         false,
         "Not stored: not an XML document",
         ""},
        {"an empty body as the illustration",
         CardFileKind::Illustration,
         std::string(kStubPng),
         {.emptyBody = true},
         false,
         "Not stored: not a PNG image",
         std::string(kStubPng)},
        {"XML after a byte-order mark and blank lines",
         CardFileKind::Xml,
         std::nullopt,
         {.body = bomXml},
         false,
         "New size " + std::to_string(bomXml.size()),
         bomXml},
        // Statuses.
        {"203 is content",
         CardFileKind::Illustration,
         std::string(kStubPng),
         {.status = 203},
         false,
         "New size " + std::to_string(png.size()),
         png},
        {"204 leaves the illustration",
         CardFileKind::Illustration,
         std::string(kStubPng),
         {.status = 204},
         false,
         "Not stored: HTTP 204",
         std::string(kStubPng)},
        {"205 leaves the XML",
         CardFileKind::Xml,
         "",
         {.status = 205},
         false,
         "Not stored: HTTP 205",
         ""},
        {"206 nobody asked for",
         CardFileKind::Xml,
         std::nullopt,
         {.status = 206},
         false,
         "Not stored: HTTP 206",
         std::nullopt},
        // Codings.
        {"a gzip illustration nobody asked for",
         CardFileKind::Illustration,
         std::nullopt,
         {.gzipBody = true},
         false,
         "New size " + std::to_string(png.size()),
         png},
        {"a gzip XML",
         CardFileKind::Xml,
         std::nullopt,
         {.gzipBody = true},
         true,
         "New size " + std::to_string(xml.size()),
         xml},
        {"a coding nobody knows",
         CardFileKind::Illustration,
         std::string(kStubPng),
         {.contentEncoding = "x-squash"},
         false,
         "Not stored: encoded as x-squash",
         std::string(kStubPng)},
        // Damaged on disk: found only when asked, then fetched as if missing.
        {"a cut illustration passes the size rules",
         CardFileKind::Illustration,
         cutPng,
         {},
         false,
         "",
         cutPng},
        {"a cut illustration",
         CardFileKind::Illustration,
         cutPng,
         {},
         true,
         pngPath + " damaged: file ends inside chunk IDAT at byte 11500\r\nDownload File: " +
             imageUrl(kCard) + " New size " + std::to_string(png.size()),
         png},
        {"an illustration with a CRC error",
         CardFileKind::Illustration,
         idatCrc,
         {},
         true,
         pngPath + " damaged: CRC error in chunk IDAT at byte 33\r\nDownload File: " +
             imageUrl(kCard) + " New size " + std::to_string(png.size()),
         png},
        {"an illustration whose image data stops halfway",
         CardFileKind::Illustration,
         halfImage,
         {},
         true,
         pngPath + " damaged: image data too short for its 64 x 128 image\r\nDownload File: " +
             imageUrl(kCard) + " New size " + std::to_string(png.size()),
         png},
        {"an XML cut in a tag",
         CardFileKind::Xml,
         cutXml,
         {},
         true,
         xmlPath + " damaged: XML not well-formed at line 2: unclosed token\r\nDownload File: " +
             infoUrl(kCard) + " New size " + std::to_string(xml.size()),
         xml},
        // Hostile on disk: refused within a bounded cost, for what they are.
        {"an illustration whose zTXt chunk inflates to 3 GiB",
         CardFileKind::Illustration,
         zTxtBomb,
         {},
         true,
         pngPath + " damaged: chunk zTXt: inflates to over 1 MiB\r\nDownload File: " +
             imageUrl(kCard) + " New size " + std::to_string(png.size()),
         png},
        {"an XML whose entities expand to 3 GB",
         CardFileKind::Xml,
         testing::billionLaughs(),
         {},
         true,
         xmlPath + " damaged: XML entity expansion over the limit\r\nDownload File: " +
             infoUrl(kCard) + " New size " + std::to_string(xml.size()),
         xml},
        // Damaged bodies: the default takes what begins right; --verify does not.
        {"a cut body is stored by default",
         CardFileKind::Illustration,
         std::nullopt,
         {.cutAt = 11500},
         false,
         "New size 11500",
         cutPng},
        {"a cut body",
         CardFileKind::Illustration,
         std::nullopt,
         {.cutAt = 11500},
         true,
         "Not stored: damaged PNG image",
         std::nullopt},
        {"a body that is not well-formed",
         CardFileKind::Xml,
         "",
         {.body = "<card><name>A1</card>"},
         true,
         "Not stored: XML not well-formed",
         ""},
        {"a billion laughs as the XML body",
         CardFileKind::Xml,
         "",
         {.body = testing::billionLaughs()},
         true,
         "Not stored: XML not well-formed",
         ""},
        {"an HTML page as the XML",
         CardFileKind::Xml,
         "",
         {.body = std::string(kSignInPage)},
         true,
         "Not stored: XML not well-formed",
         ""},
    };
    for (const std::string jobs : {"1", "4"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message() << c.name << ", " << jobs << " jobs");
            std::filesystem::remove_all(data());
            service->clearFaults();
            dir.makeFolder("Data/A1");
            const bool illustration = c.kind == CardFileKind::Illustration;
            const std::string& path = illustration ? pngPath : xmlPath;
            const std::string name = illustration ? "A1/A1_full.png" : "A1/A1.xml";
            dir.write("Data/" + (illustration ? std::string("A1/A1.xml") : "A1/A1_full.png"),
                      illustration ? xml : png);
            if (c.onDisk) {
                dir.write("Data/" + name, *c.onDisk);
            }
            service->addFault(illustration ? "/A1/illustrations" : "cardids=A1&", c.fault);
            FileTree expected = library();
            expected.erase(name);
            if (c.after) {
                expected[name] = *c.after;
            }
            std::vector<std::string> arguments = cliArguments();
            arguments.insert(arguments.end(), {"--jobs", jobs});
            if (c.verify) {
                arguments.push_back("--verify");
            }

            const auto result = runCli(arguments);

            const std::size_t sizeBefore = c.onDisk ? c.onDisk->size() : 0;
            std::string sizeLine = path + " size " + std::to_string(sizeBefore) + "\r\n";
            std::string fileLines = sizeLine;
            if (!c.logTail.empty()) {
                fileLines +=
                    (c.logTail.starts_with(path)
                         ? ""
                         : "Download File: " + (illustration ? imageUrl(kCard) : infoUrl(kCard)) +
                               " ") +
                    c.logTail + "\r\n";
            }
            const std::string otherLine =
                illustration ? xmlPath + " size " + std::to_string(xml.size()) + "\r\n"
                             : pngPath + " size " + std::to_string(png.size()) + "\r\n";
            EXPECT_EQ(log(),
                      "A1\r\n" + (illustration ? otherLine + fileLines : fileLines + otherLine));
            expectSameTree(library(), expected);
            const bool stored = c.logTail.find("Not stored") == std::string::npos;
            EXPECT_EQ(result.exitStatus, stored ? 0 : 1) << result.err;
            if (c.verify) {
                const bool damaged = c.logTail.starts_with(path);
                EXPECT_THAT(result.out, ::testing::HasSubstr("Files found damaged: " +
                                                             std::string(damaged ? "1" : "0")));
            }
        }
    }
}

} // namespace
} // namespace kqget
