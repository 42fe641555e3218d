#pragma once
// The patcher of the browser edition: it leaves the sections that pass through unchanged to the
// worker script, which makes the result from the source's File and the bytes written, so that
// most of the ROM is neither read into the page nor copied (rom_visitor::places_unchanged).

#include "engine/patcher.h"

#include <cstdint>

extern "C" {
// Defined in engine_library.js: the worker script records the range for the result.
void qm_place_unchanged(std::uint32_t offset, std::uint32_t size, double destination);
}

namespace qm::web {

class referring_patcher : public patcher {
public:
    // With `refer` false, the writer copies everything, as natively.
    explicit referring_patcher(bool refer) : refer(refer) {}

    bool places_unchanged(std::uint32_t offset, std::uint32_t size, std::uint64_t destination) override
    {
        if (refer)
            qm_place_unchanged(offset, size, static_cast<double>(destination)); // exact below 2^53
        return refer;
    }

private:
    bool refer;
};

} // namespace qm::web
