#include "platform/win32/win32_content_check.h"

#include "platform/png_chunks.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "update/transfer_port.h"

#include <cstdio>
#include <objbase.h>
#include <shlwapi.h>
#include <vector>
#include <wincodec.h>
#include <windows.h>
#include <xmllite.h>

extern "C" DWORD WINAPI RtlComputeCrc32(DWORD initial, const BYTE* data, INT length);

namespace kqget {

namespace {

// Released at the end of its scope.
template <typename T> class ComPtr
{
public:
    ComPtr() = default;
    ~ComPtr()
    {
        if (m_pointer != nullptr) {
            m_pointer->Release();
        }
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** out() noexcept { return &m_pointer; }
    T* operator->() const noexcept { return m_pointer; }
    T* get() const noexcept { return m_pointer; }

private:
    T* m_pointer = nullptr;
};

// COM on the calling thread for as long as it lives; the checks run on the
// run's own threads, which may not have it yet.
class ComScope
{
public:
    ComScope() : m_result(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(m_result)) {
            ::CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT m_result;
};

std::string hresultText(std::string_view what, HRESULT result)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    return std::string(what) + " error " + code;
}

std::uint32_t systemCrc(std::string_view bytes)
{
    return RtlComputeCrc32(0, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<INT>(bytes.size()));
}

std::optional<std::string> imageDataDamage(std::string_view png)
{
    const ComScope com;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    HRESULT result = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(factory.out()));
    if (FAILED(result)) {
        throw std::runtime_error(hresultText("cannot start WIC:", result));
    }
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(result = factory->CreateStream(stream.out())) &&
        SUCCEEDED(result = stream->InitializeFromMemory(
                      reinterpret_cast<BYTE*>(const_cast<char*>(png.data())),
                      static_cast<DWORD>(png.size()))) &&
        SUCCEEDED(result = factory->CreateDecoderFromStream(
                      stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out())) &&
        SUCCEEDED(result = decoder->GetFrame(0, frame.out())) &&
        SUCCEEDED(result = factory->CreateFormatConverter(converter.out())) &&
        SUCCEEDED(result = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA,
                                                 WICBitmapDitherTypeNone, nullptr, 0.0,
                                                 WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(result = converter->GetSize(&width, &height))) {
        // Row by row, so that a header claiming a huge image costs one row.
        std::vector<BYTE> row(static_cast<std::size_t>(width) * 4);
        for (UINT y = 0; y < height && SUCCEEDED(result); ++y) {
            const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width), 1};
            result = converter->CopyPixels(&rect, static_cast<UINT>(row.size()),
                                           static_cast<UINT>(row.size()), row.data());
        }
    }
    if (FAILED(result)) {
        return "image data: " + hresultText("WIC", result);
    }
    return std::nullopt;
}

std::optional<std::string> pngDamage(std::string_view png)
{
    if (auto layout = pngChunkDamage(png, systemCrc)) {
        return layout;
    }
    return imageDataDamage(png);
}

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// XmlLite's one entry point, from the system's own copy of the DLL.
CreateXmlReaderFunction createXmlReader()
{
    static const auto function = [] {
        const HMODULE module =
            ::LoadLibraryExW(L"xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return module == nullptr
                   ? nullptr
                   : reinterpret_cast<CreateXmlReaderFunction>(
                         reinterpret_cast<void*>(::GetProcAddress(module, "CreateXmlReader")));
    }();
    if (function == nullptr) {
        throw std::runtime_error("cannot load XmlLite: " + windowsErrorText(::GetLastError()));
    }
    return function;
}

std::optional<std::string> xmlDamage(std::string_view xml)
{
    const ComScope com;
    ComPtr<IXmlReader> reader;
    HRESULT result =
        createXmlReader()(__uuidof(IXmlReader), reinterpret_cast<void**>(reader.out()), nullptr);
    if (FAILED(result)) {
        throw std::runtime_error(hresultText("cannot start XmlLite:", result));
    }
    ComPtr<IStream> stream;
    stream.out()[0] = ::SHCreateMemStream(reinterpret_cast<const BYTE*>(xml.data()),
                                          static_cast<UINT>(xml.size()));
    if (stream.get() == nullptr) {
        throw std::bad_alloc();
    }
    result = reader->SetInput(stream.get());
    XmlNodeType type = XmlNodeType_None;
    while (SUCCEEDED(result) && (result = reader->Read(&type)) == S_OK) {
    }
    if (FAILED(result)) {
        UINT line = 0;
        reader->GetLineNumber(&line);
        return hresultText("XmlLite", result) + " at line " + std::to_string(line);
    }
    return std::nullopt;
}

std::optional<std::string> damage(std::string_view bytes, CardFileKind kind)
{
    return kind == CardFileKind::Illustration ? pngDamage(bytes) : xmlDamage(bytes);
}

} // namespace

Win32ContentCheck::Win32ContentCheck() : m_com(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}

Win32ContentCheck::~Win32ContentCheck()
{
    if (SUCCEEDED(m_com)) {
        ::CoUninitialize();
    }
}

std::optional<std::string> Win32ContentCheck::fileDamage(std::string_view path,
                                                         CardFileKind kind) const
{
    const UniqueFileHandle file(::CreateFileW(
        toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !::GetFileSizeEx(file.get(), &size)) {
        return "cannot read: " + windowsErrorText(::GetLastError());
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > kBodySizeCapBytes) {
        return "over " + std::to_string(kBodySizeCapMiB) + " MiB";
    }
    thread_local std::string content;
    content.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t filled = 0;
    while (filled < content.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), content.data() + filled,
                        static_cast<DWORD>(content.size() - filled), &got, nullptr)) {
            return "cannot read: " + windowsErrorText(::GetLastError());
        }
        if (got == 0) {
            content.resize(filled);
            break;
        }
        filled += got;
    }
    return damage(content, kind);
}

} // namespace kqget
