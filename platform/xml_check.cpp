#include "platform/xml_check.h"

#include <expat.h>
#include <new>

namespace kqget {

namespace {

// Elements may nest this deep; deeper, the document is refused before the
// parser's own stack grows with it.
constexpr int kDeepestNesting = 4096;

// Entities may expand a document to this many times its own size, once the
// expanded text is over the threshold: a few kilobytes that expand to
// gigabytes (the "billion laughs") are refused within milliseconds.
constexpr float kLargestAmplification = 100.0f;
constexpr unsigned long long kAmplificationThreshold = 4ull << 20;

} // namespace

struct XmlCheck::Parser
{
    XML_Parser expat = nullptr;
    int depth = 0;
    bool tooDeep = false;

    static void XMLCALL elementStarts(void* user, const XML_Char*, const XML_Char**)
    {
        auto* parser = static_cast<Parser*>(user);
        if (++parser->depth > kDeepestNesting) {
            parser->tooDeep = true;
            XML_StopParser(parser->expat, XML_FALSE);
        }
    }

    static void XMLCALL elementEnds(void* user, const XML_Char*)
    {
        --static_cast<Parser*>(user)->depth;
    }
};

XmlCheck::XmlCheck() : m_parser(std::make_unique<Parser>())
{
    // No external entity handler: expat reads no external DTD or entity.
    m_parser->expat = XML_ParserCreate(nullptr);
    if (m_parser->expat == nullptr) {
        throw std::bad_alloc();
    }
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(m_parser->expat,
                                                             kLargestAmplification);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(m_parser->expat,
                                                            kAmplificationThreshold);
    XML_SetUserData(m_parser->expat, m_parser.get());
    XML_SetElementHandler(m_parser->expat, Parser::elementStarts, Parser::elementEnds);
}

XmlCheck::~XmlCheck()
{
    XML_ParserFree(m_parser->expat);
}

std::optional<std::string> XmlCheck::feed(std::string_view piece)
{
    return parse(piece, false);
}

std::optional<std::string> XmlCheck::finish()
{
    return parse({}, true);
}

std::optional<std::string> XmlCheck::parse(std::string_view piece, bool last)
{
    XML_Parser expat = m_parser->expat;
    if (XML_Parse(expat, piece.data(), static_cast<int>(piece.size()),
                  last ? XML_TRUE : XML_FALSE) == XML_STATUS_OK) {
        return std::nullopt;
    }
    if (m_parser->tooDeep) {
        return "XML nested deeper than " + std::to_string(kDeepestNesting) + " elements";
    }
    const XML_Error code = XML_GetErrorCode(expat);
    if (code == XML_ERROR_AMPLIFICATION_LIMIT_BREACH) {
        return "XML entity expansion over the limit";
    }
    return "XML not well-formed at line " + std::to_string(XML_GetCurrentLineNumber(expat)) + ": " +
           XML_ErrorString(code);
}

} // namespace kqget
