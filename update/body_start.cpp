#include "update/body_start.h"

#include <algorithm>

namespace kqget {

namespace {

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

void BodyStart::feed(std::string_view bytes)
{
    for (const char c : bytes) {
        if (m_fed < kPngSignature.size()) {
            m_head.push_back(c);
        }
        ++m_fed;
        if (m_firstMarkup != '\0') {
            if (m_fed > kPngSignature.size()) {
                return; // nothing more to learn from this body
            }
            continue;
        }
        // Within the first three bytes, a byte of the mark is not content yet:
        // whether it was the mark shows once the three are in.
        const std::size_t at = m_fed - 1;
        if (at < kUtf8Mark.size() && m_head == kUtf8Mark.substr(0, m_head.size())) {
            continue;
        }
        if (at > 0 && at < kUtf8Mark.size()) {
            m_firstMarkup = m_head.front(); // the start of a mark, then something else
        } else if (!isXmlSpace(c)) {
            m_firstMarkup = c;
        }
    }
}

std::string_view BodyStart::refusal(CardFileKind kind) const
{
    if (kind == CardFileKind::Illustration) {
        return m_head == kPngSignature ? std::string_view() : "not a PNG image";
    }
    return m_firstMarkup == '<' ? std::string_view() : "not an XML document";
}

} // namespace kqget
