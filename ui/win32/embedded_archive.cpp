#include "ui/win32/embedded_archive.h"

#include "ui/win32/resource_ids.h"

namespace qm::win32 {

std::span<const std::uint8_t> embedded_patch_archive(HMODULE module)
{
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(QM_NAME_PATCH_ARCHIVE),
                               MAKEINTRESOURCEW(QM_TYPE_PATCH_ARCHIVE));
    if (!info)
        return {};
    HGLOBAL loaded = LoadResource(module, info);
    DWORD size = SizeofResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return {};
    return {static_cast<const std::uint8_t*>(bytes), size};
}

} // namespace qm::win32
