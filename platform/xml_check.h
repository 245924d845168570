#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// Whether an XML document is well-formed, fed a piece at a time as it is
// read, by expat on every system, so that Linux and Windows give a document
// the same verdict in the same words ("XML not well-formed at line 3:
// mismatched tag"). A DOCTYPE is read with its internal subset; no external
// DTD or entity is ever read. Within kqget's bounds: elements nested at most
// 4096 deep, entities expanding the document to at most 100 times its size.
class XmlCheck
{
public:
    XmlCheck();
    ~XmlCheck();
    XmlCheck(const XmlCheck&) = delete;
    XmlCheck& operator=(const XmlCheck&) = delete;

    // The next bytes of the document (a piece of a few MiB at most); what is wrong, once something
    // is (then stop feeding).
    std::optional<std::string> feed(std::string_view piece);
    // At the end of the document: what is wrong if it ended where it must not.
    std::optional<std::string> finish();

private:
    struct Parser;
    std::optional<std::string> parse(std::string_view piece, bool last);

    std::unique_ptr<Parser> m_parser;
};

} // namespace kqget
