#include "platform/win32/win32_staging_area.h"

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "update/run_error.h"

#include <algorithm>
#include <climits>
#include <cwctype>
#include <random>

namespace kqget {

namespace {

constexpr std::wstring_view kMark = L".kqget-";
constexpr std::wstring_view kSuffix = L".tmp";
constexpr std::size_t kRandomDigits = 16;
// Names taken by other files before one is free: far more than chance allows.
constexpr int kNamesToTry = 100;

// ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
constexpr unsigned long kDiskQuotaExceeded = 1295;

// What every later card file would meet as well: the disk, the process or
// the system is short of something. Anything else (access denied, a folder at
// the file's name, a name too long) is this file's own.
FailureReach reachOf(unsigned long error) noexcept
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_WRITE_PROTECT:
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
        return FailureReach::Run;
    default:
        return FailureReach::OneCardFile;
    }
}

// The temporary file goes unnamed: its random name would make the log of
// one run differ from another's, and it is removed with the failure anyway.
[[noreturn]] void failStore(std::string_view path, std::string_view what, unsigned long error)
{
    throw RunError(ErrorNumber::CardFile,
                   "cannot store '" + std::string(path) + "': " + std::string(what) + ": " +
                       windowsErrorText(error),
                   reachOf(error));
}

std::wstring randomPart()
{
    // Seeded from the system's generator once per thread: names differ
    // across processes, not only within one.
    thread_local std::mt19937_64 random{(static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
                                        std::random_device{}()};
    constexpr std::wstring_view kHex = L"0123456789abcdef";
    std::uint64_t value = random();
    std::wstring part(kRandomDigits, L'0');
    for (wchar_t& digit : part) {
        digit = kHex[value & 0x0F];
        value >>= 4;
    }
    return part;
}

bool allOf(std::wstring_view text, int (*test)(wint_t))
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [test](wchar_t c) { return test(c) != 0; });
}

// "<random>" or the earlier "<process>-<n>".
bool isTemporaryPart(std::wstring_view part)
{
    if (part.size() == kRandomDigits && allOf(part, std::iswxdigit)) {
        return true;
    }
    const std::size_t dash = part.find(L'-');
    return dash != std::wstring_view::npos && allOf(part.substr(0, dash), std::iswdigit) &&
           allOf(part.substr(dash + 1), std::iswdigit);
}

} // namespace

// A temporary file beside the card file, deleted unless moved into place.
class Win32StagedFile final : public StagedFile
{
public:
    Win32StagedFile(std::shared_ptr<Win32StagingArea> area, std::string_view target)
        : m_area(std::move(area)), m_target(target), m_wideTarget(toWide(target))
    {
        // Known as ours before a sweep can see it.
        const std::lock_guard lock(m_area->m_mutex);
        unsigned long error = ERROR_FILE_EXISTS;
        for (int i = 0; i < kNamesToTry && error == ERROR_FILE_EXISTS; ++i) {
            m_temporary = m_wideTarget + std::wstring(kMark) + randomPart() + std::wstring(kSuffix);
            m_file.reset(::CreateFileW(m_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
            error = m_file.valid() ? ERROR_SUCCESS : ::GetLastError();
        }
        if (!m_file.valid()) {
            m_temporary.clear(); // nothing was created
            failStore(m_target, "cannot create a temporary file beside it", error);
        }
        m_area->m_live.insert(m_temporary);
    }
    ~Win32StagedFile() override
    {
        m_file.reset();
        if (!m_temporary.empty()) {
            ::DeleteFileW(m_temporary.c_str());
            forget();
        }
    }
    Win32StagedFile(const Win32StagedFile&) = delete;
    Win32StagedFile& operator=(const Win32StagedFile&) = delete;

    void write(std::string_view bytes) override
    {
        if (const DWORD error = writeAll(m_file, bytes)) {
            failStore(m_target, "cannot write its temporary file", error);
        }
    }

    void close() override
    {
        if (m_file.valid() && !::CloseHandle(m_file.release())) {
            failStore(m_target, "cannot close its temporary file", ::GetLastError());
        }
    }

    void commit() override
    {
        close();
        if (!::MoveFileExW(m_temporary.c_str(), m_wideTarget.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            failStore(m_target, "cannot move its temporary file over it", ::GetLastError());
        }
        forget();
    }

    std::string temporaryPath() const override { return toUtf8(m_temporary); }

    bool intact() const noexcept override
    {
        return !m_temporary.empty() &&
               ::GetFileAttributesW(m_temporary.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

private:
    void forget() noexcept
    {
        const std::lock_guard lock(m_area->m_mutex);
        m_area->m_live.erase(m_temporary);
        m_temporary.clear();
    }

    std::shared_ptr<Win32StagingArea> m_area;
    std::string m_target;
    std::wstring m_wideTarget;
    std::wstring m_temporary;
    UniqueFileHandle m_file;
};

std::unique_ptr<StagedFile> Win32StagingArea::stage(std::string_view target)
{
    return std::make_unique<Win32StagedFile>(shared_from_this(), target);
}

void Win32StagingArea::removeLeftovers(std::string_view target) noexcept
{
    try {
        const std::wstring wideTarget = toWide(target);
        const std::size_t nameStart = wideTarget.find_last_of(L"\\/") + 1;
        const std::wstring folder = wideTarget.substr(0, nameStart);
        const std::wstring prefix = wideTarget.substr(nameStart) + std::wstring(kMark);
        const std::wstring pattern = folder + prefix + L"*" + std::wstring(kSuffix);
        WIN32_FIND_DATAW found{};
        UniqueFindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                   FindExSearchNameMatch, nullptr, 0));
        if (!search.valid()) {
            return;
        }
        const std::lock_guard lock(m_mutex);
        do {
            const std::wstring_view name(found.cFileName);
            const bool plainFile = (found.dwFileAttributes &
                                    (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
            // The pattern's wildcards also match 8.3 names: the whole name decides.
            if (plainFile && name.starts_with(prefix) && name.ends_with(kSuffix) &&
                name.size() > prefix.size() + kSuffix.size() &&
                isTemporaryPart(
                    name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size())) &&
                !m_live.contains(folder + std::wstring(name))) {
                ::DeleteFileW((folder + std::wstring(name)).c_str());
            }
        } while (::FindNextFileW(search.get(), &found));
    } catch (...) {
        // No memory to look: the leftovers wait for the next run.
    }
}

} // namespace kqget
