#include "rom/fnt.h"

#include "rom/nds_format.h"

#include <vector>

namespace qm {

namespace {

std::uint32_t directory_count(byte_span fnt)
{
    return get_le16(fnt, 6); // bytes 6-7 of the root's entry
}

} // namespace

fnt_subtable_cursor::fnt_subtable_cursor(byte_span fnt, std::uint32_t directory_index)
    : fnt(fnt), directory(directory_index)
{
    const std::size_t entry = std::size_t{directory_index} * nds::fnt_dir_entry_length;
    pos = get_le32(fnt, entry);
    next_file = get_le16(fnt, entry + 4);
}

bool fnt_subtable_cursor::next(fnt_entry& entry)
{
    const std::uint8_t type = get_u8(fnt, pos);
    if (type == nds::fnt_end)
        return false;
    const std::size_t name_length = type & nds::fnt_name_mask;
    require_bounds(fnt.size(), pos + 1, name_length);
    entry.name = std::string_view(reinterpret_cast<const char*>(fnt.data() + pos + 1), name_length);
    pos += 1 + name_length;
    entry.is_directory = (type & nds::fnt_dir_flag) != 0;
    entry.directory = directory;
    if (entry.is_directory) {
        entry.id = get_le16(fnt, pos);
        pos += 2;
    } else {
        entry.id = static_cast<std::uint16_t>(next_file++);
    }
    return true;
}

bool fnt_is_valid(byte_span fnt, std::uint32_t fat_entries)
{
    if (fnt.size() < nds::fnt_dir_entry_length)
        return false;
    const std::uint32_t dirs = directory_count(fnt);
    if (dirs == 0 || dirs > nds::max_directories)
        return false;
    // The main table itself must lie inside the FNT before its entries are read.
    if (std::uint64_t{dirs} * nds::fnt_dir_entry_length > fnt.size())
        return false;

    // The last readable position: every step of a walk must land at or before it.
    const std::uint64_t last = fnt.size() - 1;
    for (std::uint32_t i = 0; i < dirs; ++i) {
        const std::size_t entry = std::size_t{i} * nds::fnt_dir_entry_length;
        std::uint64_t p = get_le32(fnt, entry);
        if (p > last)
            return false;
        if (i >= 1 && (get_le16(fnt, entry + 6) & nds::dir_index_mask) >= dirs)
            return false;
        std::uint64_t next_file = get_le16(fnt, entry + 4);
        for (;;) {
            const std::uint8_t type = fnt[p];
            if (type == nds::fnt_end)
                break;
            const bool is_directory = (type & nds::fnt_dir_flag) != 0;
            p += (type & nds::fnt_name_mask) + 1 + (is_directory ? 2 : 0);
            if (p > last)
                return false;
            if (is_directory) {
                if ((get_le16(fnt, p - 2) & nds::dir_index_mask) >= dirs)
                    return false;
            } else {
                if (next_file >= fat_entries)
                    return false;
                ++next_file;
            }
        }
    }
    return true;
}

bool fnt_walk(byte_span fnt,
              const std::function<bool(const std::string& path, const fnt_entry& entry)>& visit)
{
    struct frame {
        fnt_subtable_cursor cursor;
        std::size_t path_length; // the path of the directory being walked
    };
    std::vector<bool> walked(nds::max_directories, false);
    walked[0] = true;
    std::vector<frame> stack;
    stack.push_back({fnt_subtable_cursor(fnt, 0), 0});
    std::string path;
    fnt_entry entry;
    while (!stack.empty()) {
        frame& top = stack.back();
        path.resize(top.path_length);
        if (!top.cursor.next(entry)) {
            stack.pop_back();
            continue;
        }
        path.append(entry.name);
        if (entry.is_directory)
            path += '/';
        if (visit(path, entry))
            return true;
        if (entry.is_directory) {
            const std::uint32_t index = entry.id & nds::dir_index_mask;
            // A directory met again (a cycle, or two entries naming it) holds nothing that its
            // first walk did not already offer.
            if (!walked[index]) {
                walked[index] = true;
                stack.push_back({fnt_subtable_cursor(fnt, index), path.size()});
            }
        }
    }
    return false;
}

std::optional<std::uint16_t> fnt_find_file(byte_span fnt, std::string_view path)
{
    if (path.empty())
        return std::nullopt;
    // path[0] stands for the root and is not examined. Each pass consumes one component, so the
    // loop ends within the path's length even when sub-directories lead back to their ancestors.
    std::uint32_t directory = 0;
    std::size_t start = 1;
    for (;;) {
        std::size_t end = path.find('/', start + 1);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(start, end - start);
        const bool last = end == path.size();

        std::optional<std::uint32_t> sub_directory;
        fnt_subtable_cursor cursor(fnt, directory);
        fnt_entry entry;
        while (cursor.next(entry)) {
            if (entry.name != component)
                continue;
            if (last && !entry.is_directory)
                return entry.id;
            if (!last && entry.is_directory) {
                sub_directory = entry.id & nds::dir_index_mask;
                break;
            }
        }
        if (!sub_directory || last || *sub_directory == 0)
            return std::nullopt;
        directory = *sub_directory;
        start = end + 1;
    }
}

std::optional<std::string> fnt_path_of(byte_span fnt, std::uint16_t id)
{
    std::optional<std::string> found;
    fnt_walk(fnt, [&](const std::string& path, const fnt_entry& entry) {
        if (entry.id != id)
            return false;
        found = path;
        return true;
    });
    return found;
}

std::vector<std::pair<std::uint16_t, std::string>> fnt_list_files(byte_span fnt)
{
    std::vector<std::pair<std::uint16_t, std::string>> files;
    fnt_walk(fnt, [&](const std::string& path, const fnt_entry& entry) {
        if (!entry.is_directory)
            files.emplace_back(entry.id, path);
        return false;
    });
    return files;
}

fnt_path_index::fnt_path_index(byte_span fnt)
    : fnt(fnt), ids(std::size_t{1} << 16), entered(nds::max_directories)
{
    fnt_walk(fnt, [&](const std::string&, const fnt_entry& entry) {
        const place here{
            entry.directory,
            static_cast<std::uint32_t>(reinterpret_cast<const std::uint8_t*>(entry.name.data()) - fnt.data()),
            static_cast<std::uint8_t>(entry.name.size()), entry.is_directory, true};
        if (!ids[entry.id].found)
            ids[entry.id] = here;
        // The walk enters a directory through the first entry that names it (never the root again).
        const std::uint32_t index = entry.id & nds::dir_index_mask;
        if (entry.is_directory && index != 0 && !entered[index].found)
            entered[index] = here;
        return false;
    });
}

void fnt_path_index::append_directory_path(std::string& path, std::uint32_t directory) const
{
    // Each directory was entered from one walked before it, so the chain ends at the root.
    std::vector<const place*> chain;
    for (std::uint32_t d = directory; d != 0; d = entered[d].directory)
        chain.push_back(&entered[d]);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path.append(reinterpret_cast<const char*>(fnt.data() + (*it)->name_offset), (*it)->name_length);
        path += '/';
    }
}

std::optional<std::string> fnt_path_index::path_of(std::uint16_t id) const
{
    const place& p = ids[id];
    if (!p.found)
        return std::nullopt;
    std::string path;
    append_directory_path(path, p.directory);
    path.append(reinterpret_cast<const char*>(fnt.data() + p.name_offset), p.name_length);
    if (p.is_directory)
        path += '/';
    return path;
}

} // namespace qm
