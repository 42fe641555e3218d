#pragma once
// The packed patch archive that the program carries as a custom resource.

#include <windows.h>

#include <cstdint>
#include <span>

namespace qm::win32 {

// The resource's bytes in `module` (mapped with the module, never freed); empty when absent.
std::span<const std::uint8_t> embedded_patch_archive(HMODULE module);

} // namespace qm::win32
