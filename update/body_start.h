#pragma once

#include "update/content_check_port.h"

#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// The first bytes of a reply's body, fed as they arrive, enough to tell a
// card file from a page that is not one: an illustration begins with the PNG
// signature, an XML file (after an optional UTF-8 byte-order mark and white
// space) with '<'. A sign-in page, a JSON error or a compressed body is
// refused by this alone, however many bytes it has.
class BodyStart
{
public:
    void feed(std::string_view bytes);

    // Why the body so far cannot be a card file of `kind`; empty when it can.
    // The texts are the ones the log shows.
    std::string_view refusal(CardFileKind kind) const;

private:
    std::string m_head; // the first bytes, up to the PNG signature's length
    // The first byte that is no white space, from the start and past the
    // three bytes of the mark.
    std::optional<char> m_first;
    std::optional<char> m_afterMark;
};

} // namespace kqget
