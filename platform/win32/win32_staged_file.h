#pragma once

#include "platform/win32/unique_handle.h"
#include "update/file_system_port.h"

#include <string>
#include <string_view>

namespace kqget {

// A temporary file in the data folder, deleted unless moved into place.
class Win32StagedFile final : public StagedFile
{
public:
    // Throws RunError naming the card file.
    explicit Win32StagedFile(std::string_view target);
    ~Win32StagedFile() override;
    Win32StagedFile(const Win32StagedFile&) = delete;
    Win32StagedFile& operator=(const Win32StagedFile&) = delete;

    void write(std::string_view bytes) override;
    void close() override;
    void commit() override;
    std::string temporaryPath() const override;

private:
    // The card folder is on another volume: the content goes there under a
    // temporary name first, so that the move over the card file stays whole.
    void moveAcross();

    std::string m_target;
    std::wstring m_wideTarget;
    std::wstring m_temporary;
    UniqueFileHandle m_file;
};

} // namespace kqget
