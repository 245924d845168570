#include "update/body_start.h"

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
        if (m_head.size() < kPngSignature.size()) {
            m_head.push_back(c);
        } else if (m_afterMark) {
            return; // nothing more to learn from this body
        }
        // Whether the body begins with the mark shows only once its first
        // three bytes are in: the first byte that is no white space is kept
        // both ways.
        if (!isXmlSpace(c)) {
            m_first = m_first.value_or(c);
            if (m_head.size() > kUtf8Mark.size()) {
                m_afterMark = m_afterMark.value_or(c);
            }
        }
    }
}

std::string_view BodyStart::refusal(CardFileKind kind) const
{
    if (kind == CardFileKind::Illustration) {
        return m_head == kPngSignature ? std::string_view() : "not a PNG image";
    }
    const std::optional<char> markup = m_head.starts_with(kUtf8Mark) ? m_afterMark : m_first;
    return markup == '<' ? std::string_view() : "not an XML document";
}

} // namespace kqget
