#include "platform/win32/msxml_check.h"

#include "platform/content_check_rules.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"

#include <msxml2.h>
#include <shlwapi.h>
#include <stdexcept>
#include <windows.h>

namespace kqget {

namespace {

// The SAX interfaces' identities, as MSXML publishes them.
constexpr GUID kSaxXmlReader = {
    0xa4f96ed0, 0xf829, 0x476e, {0x81, 0xc0, 0xcd, 0xc7, 0xbd, 0x2a, 0x08, 0x02}};
constexpr GUID kSaxContentHandler = {
    0x1545cdfa, 0x9e4e, 0x4497, {0xa8, 0xa4, 0x2b, 0xf7, 0xd0, 0x11, 0x2c, 0x44}};
constexpr GUID kSaxErrorHandler = {
    0xa60511c4, 0xccf5, 0x479e, {0x98, 0xa3, 0xdc, 0x8d, 0xc5, 0x45, 0xb7, 0xd0}};

std::string hresultText(HRESULT result)
{
    return windowsErrorText(static_cast<unsigned long>(result));
}

// Watches the document go by: counts the nesting and the text that entities
// expand to, stopping the reader past kqget's limits, and keeps the reader's
// first fatal error with its line. Lives on the stack, beyond the reader
// that holds it, so its reference counts are not counted.
class SaxWatcher final : public ISAXContentHandler, public ISAXErrorHandler
{
public:
    explicit SaxWatcher(std::uint64_t fileBytes) : m_fileBytes(fileBytes) {}

    std::optional<std::string> reason;

    HRESULT WINAPI QueryInterface(REFIID id, void** object) override
    {
        if (id == IID_IUnknown || id == kSaxContentHandler) {
            *object = static_cast<ISAXContentHandler*>(this);
        } else if (id == kSaxErrorHandler) {
            *object = static_cast<ISAXErrorHandler*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return 2; }
    ULONG WINAPI Release() override { return 1; }

    HRESULT WINAPI putDocumentLocator(ISAXLocator*) override { return S_OK; }
    HRESULT WINAPI startDocument() override { return S_OK; }
    HRESULT WINAPI endDocument() override { return S_OK; }
    HRESULT WINAPI startPrefixMapping(const wchar_t*, int, const wchar_t*, int) override
    {
        return S_OK;
    }
    HRESULT WINAPI endPrefixMapping(const wchar_t*, int) override { return S_OK; }
    HRESULT WINAPI startElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int,
                                ISAXAttributes* attributes) override
    {
        if (++m_depth > kDeepestXmlNesting) {
            return stop(xmlNestedTooDeep());
        }
        int count = 0;
        if (attributes != nullptr && SUCCEEDED(attributes->getLength(&count))) {
            for (int i = 0; i < count; ++i) {
                const wchar_t* value = nullptr;
                int length = 0;
                if (SUCCEEDED(attributes->getValue(i, &value, &length))) {
                    if (const HRESULT over = countText(length); FAILED(over)) {
                        return over;
                    }
                }
            }
        }
        return S_OK;
    }
    HRESULT WINAPI endElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*,
                              int) override
    {
        --m_depth;
        return S_OK;
    }
    HRESULT WINAPI characters(const wchar_t*, int length) override { return countText(length); }
    HRESULT WINAPI ignorableWhitespace(const wchar_t*, int length) override
    {
        return countText(length);
    }
    HRESULT WINAPI processingInstruction(const wchar_t*, int, const wchar_t*, int) override
    {
        return S_OK;
    }
    HRESULT WINAPI skippedEntity(const wchar_t*, int) override { return S_OK; }

    HRESULT WINAPI error(ISAXLocator* locator, const wchar_t* message, HRESULT code) override
    {
        return fatalError(locator, message, code);
    }
    HRESULT WINAPI fatalError(ISAXLocator* locator, const wchar_t* message, HRESULT code) override
    {
        if (!reason) {
            int line = 0;
            if (locator != nullptr) {
                locator->getLineNumber(&line);
            }
            std::string text = message != nullptr ? toUtf8(message) : hresultText(code);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r' ||
                                     text.back() == ' ' || text.back() == '.')) {
                text.pop_back();
            }
            reason = xmlNotWellFormed(static_cast<std::uint64_t>(line < 0 ? 0 : line), text);
        }
        return code;
    }
    HRESULT WINAPI ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }

private:
    HRESULT stop(std::string why)
    {
        if (!reason) {
            reason = std::move(why);
        }
        return E_ABORT;
    }

    // The text delivered, against the file's own size: entities that expand
    // a document past kqget's amplification are refused as expat refuses them.
    HRESULT countText(int length)
    {
        m_text += static_cast<std::uint64_t>(length < 0 ? 0 : length);
        if (m_text > kXmlAmplificationThreshold &&
            static_cast<double>(m_text) >
                static_cast<double>(m_fileBytes) * kLargestXmlAmplification) {
            return stop(std::string(kXmlExpansionOverLimit));
        }
        return S_OK;
    }

    std::uint64_t m_fileBytes;
    std::uint64_t m_text = 0;
    int m_depth = 0;
};

ComPtr<ISAXXMLReader> makeReader()
{
    CLSID reader{};
    HRESULT result = ::CLSIDFromProgID(L"Msxml2.SAXXMLReader.6.0", &reader);
    ComPtr<ISAXXMLReader> made;
    if (SUCCEEDED(result)) {
        result = ::CoCreateInstance(reader, nullptr, CLSCTX_INPROC_SERVER, kSaxXmlReader,
                                    reinterpret_cast<void**>(made.out()));
    }
    if (FAILED(result)) {
        throw std::runtime_error("cannot start MSXML 6's SAX reader: " + hresultText(result));
    }
    return made;
}

void setFeature(ISAXXMLReader& reader, const wchar_t* name, bool on)
{
    const HRESULT result = reader.putFeature(name, on ? VARIANT_TRUE : VARIANT_FALSE);
    if (FAILED(result)) {
        throw std::runtime_error("MSXML 6 refuses its feature " + toUtf8(name) + ": " +
                                 hresultText(result));
    }
}

} // namespace

std::optional<std::string> msxmlDamage(const std::wstring& path, std::uint64_t fileBytes)
{
    const ComScope com;
    ComPtr<IStream> stream;
    HRESULT result = ::SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                              FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, stream.out());
    if (FAILED(result)) {
        return "cannot read: " + hresultText(result);
    }
    const ComPtr<ISAXXMLReader> reader = makeReader();
    // A DOCTYPE is allowed (MSXML 6 refuses one by default); nothing outside
    // the file is read.
    setFeature(*reader.get(), L"prohibit-dtd", false);
    // Names are checked as XML 1.0 has them, without namespaces, as expat does.
    setFeature(*reader.get(), L"http://xml.org/sax/features/namespaces", false);
    setFeature(*reader.get(), L"http://xml.org/sax/features/external-general-entities", false);
    setFeature(*reader.get(), L"http://xml.org/sax/features/external-parameter-entities", false);
    // The reader's own nesting limit above kqget's, which the watcher counts.
    // A reader without the property (Wine's) has no limit of its own to lift.
    VARIANT depth;
    ::VariantInit(&depth);
    depth.vt = VT_I4;
    depth.lVal = kDeepestXmlNesting + 1;
    if (const HRESULT set = reader->putProperty(L"max-element-depth", depth);
        FAILED(set) && set != E_NOTIMPL) {
        throw std::runtime_error("MSXML 6 refuses its property max-element-depth: " +
                                 hresultText(set));
    }
    SaxWatcher watcher(fileBytes);
    reader->putContentHandler(&watcher);
    reader->putErrorHandler(&watcher);
    VARIANT input;
    ::VariantInit(&input);
    input.vt = VT_UNKNOWN;
    input.punkVal = stream.get();
    result = reader->parse(input);
    reader->putContentHandler(nullptr);
    reader->putErrorHandler(nullptr);
    if (watcher.reason) {
        return watcher.reason;
    }
    if (FAILED(result)) {
        return xmlNotWellFormed(0, hresultText(result));
    }
    return std::nullopt;
}

} // namespace kqget
