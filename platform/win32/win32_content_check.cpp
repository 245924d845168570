#include "platform/win32/win32_content_check.h"

#include "platform/card_file_check.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"

#include <shlwapi.h>
#include <stdexcept>
#include <vector>
#include <wincodec.h>
#include <windows.h>

namespace kqget {

namespace {

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
    const ComScope com;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    HRESULT result = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(factory.out()));
    if (FAILED(result)) {
        throw std::runtime_error("cannot start WIC: " +
                                 windowsErrorText(static_cast<unsigned long>(result)));
    }
    result = ::SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                      FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, stream.out());
    if (FAILED(result)) {
        return "cannot read: " + windowsErrorText(static_cast<unsigned long>(result));
    }
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(result = factory->CreateDecoderFromStream(
                      stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out())) &&
        SUCCEEDED(result = decoder->GetFrame(0, frame.out())) &&
        SUCCEEDED(result = factory->CreateFormatConverter(converter.out())) &&
        SUCCEEDED(result = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA,
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
    const std::wstring widePath = toWide(path);
    const UniqueFileHandle file(::CreateFileW(
        widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !::GetFileSizeEx(file.get(), &size)) {
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

} // namespace kqget
