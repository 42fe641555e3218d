#include "engine/cpk_patcher.h"

#include "cpk/cpk_visit.h"
#include "engine/apply_patch.h"
#include "engine/crc32.h"
#include "engine/font_depth.h"
#include "engine/patcher.h"
#include "engine/script_font.h"

#include <stdexcept>

namespace qm {

namespace {

constexpr std::uint32_t append_marker = 0xFFFFFFFFu;

enum entry_patch_type : std::uint32_t {
    script_with_prefix = 0,
    script_without_prefix = 1,
    replace = 2,
    delta = 3,
    font_to_1bpp = 4,
    replace_too = 5,
};

} // namespace

cpk_patcher::cpk_patcher(patcher& owner, byte_span entry_list) : owner_(owner), list_(entry_list) {}

std::uint32_t cpk_patcher::peek() const
{
    return get_le32(list_, cursor_);
}

std::uint32_t cpk_patcher::take()
{
    if (at_end())
        throw std::runtime_error("patcher::cpk_patcher - entry list ends inside an entry");
    std::uint32_t w = get_le32(list_, cursor_);
    cursor_ += 4;
    return w;
}

void cpk_patcher::add(const std::uint8_t* data, std::uint32_t size)
{
    builder_.add_file(size ? data : nullptr, size);
}

bytes cpk_patcher::run(const bytes& archive)
{
    cpk_visit(archive, [this](std::uint32_t id, const std::uint8_t* data, std::uint32_t size) {
        (*this)(id, data, size);
    });
    while (!owner_.cancel_requested()) {
        // The list ends at its record's end: nothing there can be an append item.
        if (at_end() || take() != append_marker)
            break;
        owner_.advance_progress();
        add(owner_.blob(take()));
    }
    if (owner_.cancel_requested())
        return {};
    return builder_.write();
}

void cpk_patcher::operator()(std::uint32_t id, const std::uint8_t* data, std::uint32_t size)
{
    if (owner_.cancel_requested())
        return;
    owner_.advance_progress();
    if (at_end() || peek() != id) {
        add(data, size);
        return;
    }
    cursor_ += 4;
    std::uint32_t checksum = take();
    if (crc32(data, size) != checksum)
        throw std::runtime_error("patcher::cpk_patcher::operator() - bad checksum");
    add(patch_entry(take(), data, size));
}

bytes cpk_patcher::patch_entry(std::uint32_t type, const std::uint8_t* data, std::uint32_t size)
{
    switch (type) {
    case script_with_prefix:
    case script_without_prefix: {
        const bytes& container = owner_.blob(take());
        std::uint32_t prefix = 0;
        byte_span old(data, size);
        if (type == script_with_prefix) {
            // The kept prefix's length is the word at offset 12 of the old entry.
            if (size < 16)
                throw std::runtime_error("patcher::cpk_patcher::operator() - script entry too short");
            prefix = get_le32(old, 12);
            if (prefix > size)
                throw std::runtime_error("patcher::cpk_patcher::operator() - script prefix longer than its entry");
        }
        bytes font = build_font(used_chars(owner_.character_index(), container));
        return assemble_script_entry(old.first(prefix), prefix, container, font);
    }
    case replace:
    case replace_too:
        return owner_.blob(take());
    case delta: {
        const bytes& d = owner_.blob(take());
        return apply_patch(data, size, d);
    }
    case font_to_1bpp:
        return convert_font_to_1bpp(data, size);
    default:
        throw std::runtime_error("patcher::cpk_patcher::operator() - unexpected patch type");
    }
}

} // namespace qm
