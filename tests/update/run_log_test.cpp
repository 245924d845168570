#include "tests/support/fake_ports.h"
#include "update/run_log.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

TEST(RunLog, EndsLinesInCrLfJoinsPiecesAndEscapesControls)
{
    std::string text;
    bool closed = false;
    {
        RunLog log(std::make_unique<testing::MemoryLogFile>(text, closed));
        log.writeLine("A0001");
        log.writePiece("Download File: ");
        log.writePiece("http://x/y");
        log.writeLine(" New size 5");
        log.writeLine("A\t\x7f\xc2\x85\xc2\xa0\\"); // C0, DEL, C1; not NBSP nor the backslash
        log.close();
        EXPECT_TRUE(closed);
    }
    EXPECT_EQ(text, "A0001\r\nDownload File: http://x/y New size 5\r\n"
                    "A\\x09\\x7F\\xC2\\x85\xc2\xa0\\\r\n");
}

TEST(RunLog, ClosesItsFileWhenDroppedByAnError)
{
    std::string text;
    bool closed = false;
    {
        RunLog log(std::make_unique<testing::MemoryLogFile>(text, closed));
        log.writePiece("Download File: ");
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(text, "Download File: ");
}

} // namespace
} // namespace kqget
