#include "platform/card_file_check.h"
#include "platform/native_ports.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"

#include <shlwapi.h>
#include <stdexcept>
#include <vector>
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

namespace kqget {

namespace {

using Microsoft::WRL::ComPtr;

// COM's multithreaded apartment on the calling thread for as long as it lives.
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

// WIC's PNG decoder may decode a whole frame at once, whatever rectangle is
// asked for (Wine's does: 538 MiB for a 16384 x 4096 image at 16 bits). A
// larger image is judged by the walk alone, which has inflated and checked
// all of its image data already.
constexpr std::uint64_t kLargestWicPixels = std::uint64_t{8} << 20;

// WIC's refusals, in words: Wine has no texts for its codes.
std::string wicText(HRESULT result)
{
    switch (result) {
    case WINCODEC_ERR_BADIMAGE:
    case WINCODEC_ERR_BADHEADER:
    case WINCODEC_ERR_BADMETADATAHEADER:
    case WINCODEC_ERR_BADSTREAMDATA:
    case WINCODEC_ERR_STREAMREAD:
        return "the system's PNG decoder finds it damaged";
    case WINCODEC_ERR_UNKNOWNIMAGEFORMAT:
    case WINCODEC_ERR_COMPONENTNOTFOUND:
        return "the system's decoder does not know it as a PNG image";
    case WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT:
        return "the system's PNG decoder cannot read its pixel format";
    default:
        return "the system's PNG decoder refuses it: " +
               windowsErrorText(static_cast<unsigned long>(result));
    }
}

// WIC's own reading of a file the walk found whole, a row at a time so that
// memory does not grow with the image.
std::optional<std::string> decoderDamage(const std::wstring& path)
{
    // The checks run on the run's own threads, which may not have COM yet.
    const ComScope com;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    HRESULT result = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(factory.GetAddressOf()));
    if (FAILED(result)) {
        throw std::runtime_error("cannot start WIC: " +
                                 windowsErrorText(static_cast<unsigned long>(result)));
    }
    result = ::SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                      FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, stream.GetAddressOf());
    if (FAILED(result)) {
        return "cannot read: " + windowsErrorText(static_cast<unsigned long>(result));
    }
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(result = factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                            WICDecodeMetadataCacheOnDemand,
                                                            decoder.GetAddressOf())) &&
        SUCCEEDED(result = decoder->GetFrame(0, frame.GetAddressOf())) &&
        SUCCEEDED(result = factory->CreateFormatConverter(converter.GetAddressOf())) &&
        SUCCEEDED(result = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA,
                                                 WICBitmapDitherTypeNone, nullptr, 0.0,
                                                 WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(result = converter->GetSize(&width, &height))) {
        std::vector<BYTE> row(static_cast<std::size_t>(width) * 4);
        for (UINT y = 0; y < height && SUCCEEDED(result); ++y) {
            const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width), 1};
            result = converter->CopyPixels(&rect, static_cast<UINT>(row.size()),
                                           static_cast<UINT>(row.size()), row.data());
        }
    }
    if (FAILED(result)) {
        return "image data: " + wicText(result);
    }
    return std::nullopt;
}

// Card files looked into on Windows: by the checks every system shares
// (card_file_check.h), then a PNG by WIC a row at a time where the image is
// small enough that WIC cannot cost much memory.
class Win32ContentCheck final : public ContentCheckPort
{
public:
    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override;

private:
    // Held for the object's whole life by the thread that makes it: the
    // checking threads then share that one apartment instead of each setting
    // one up and tearing it down per file.
    ComScope m_com;
};

std::optional<std::string> Win32ContentCheck::fileDamage(std::string_view path,
                                                         CardFileKind kind) const
{
    const std::wstring widePath = toWide(path);
    const UniqueFileHandle file(::CreateFileW(
        widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size)) {
        return "cannot read: " + windowsErrorText(::GetLastError());
    }
    const auto read = [&](std::span<char>& piece) -> std::optional<std::string> {
        DWORD got = 0;
        if (!::ReadFile(file.get(), piece.data(), static_cast<DWORD>(piece.size()), &got,
                        nullptr)) {
            return "cannot read: " + windowsErrorText(::GetLastError());
        }
        piece = piece.first(got);
        return std::nullopt;
    };
    std::uint64_t pixels = 0;
    if (auto wrong = sharedDamage(kind, static_cast<std::uint64_t>(size.QuadPart), read, pixels)) {
        return wrong;
    }
    if (kind == CardFileKind::Xml || pixels > kLargestWicPixels) {
        return std::nullopt;
    }
    return decoderDamage(widePath);
}

} // namespace

std::unique_ptr<ContentCheckPort> makeNativeContentCheck()
{
    return std::make_unique<Win32ContentCheck>();
}

} // namespace kqget
