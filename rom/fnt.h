#pragma once
// The file name table (FNT): its structural check, and the walks and lookups between
// file-system paths and file ids.
//
// Main table at offset 0: one 8-byte entry per directory (index 0 is the root). A directory's
// id is 0xF000 + its index, and its index is taken as the low 12 bits of the id. Each directory
// has a sub-table of entries ended by a 0 byte; its files get consecutive ids from the
// directory's first file id, in entry order.

#include "common/bytes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

// One entry of a sub-table. `id` is the file id (16 bits) of a file, the stored id of a
// sub-directory.
struct fnt_entry {
    std::string_view name;
    bool is_directory = false;
    std::uint16_t id = 0;
    std::uint32_t directory = 0; // index of the directory whose sub-table holds the entry
};

// Steps through the sub-table of one directory. Every access is bounds-checked, so a table
// that the validity check did not pass can only make it throw.
class fnt_subtable_cursor {
public:
    fnt_subtable_cursor(byte_span fnt, std::uint32_t directory_index);
    // Fetches the next entry; false at the end of the sub-table.
    bool next(fnt_entry& entry);

private:
    byte_span fnt;
    std::size_t pos;
    std::uint32_t next_file;
    std::uint32_t directory;
};

// The structural check of the validity test: directory count, sub-table offsets, parents,
// sub-directory ids and file ids (below `fat_entries`), every sub-table ending inside the table.
bool fnt_is_valid(byte_span fnt, std::uint32_t fat_entries);

// Depth-first walk in sub-table order. `visit` gets the path built so far (a directory's with a
// trailing "/") and the entry, and returns true to stop the walk. Each directory's sub-table is
// walked at most once, so directories that form a cycle end the walk instead of looping.
// Returns true when `visit` stopped it.
bool fnt_walk(byte_span fnt,
              const std::function<bool(const std::string& path, const fnt_entry& entry)>& visit);

// File id at a path whose first character stands for the root ("/dir/name"); nothing when no
// file is there (a directory, a path ending in "/", an empty component).
std::optional<std::uint16_t> fnt_find_file(byte_span fnt, std::string_view path);

// Path of the file or directory with this id (no leading "/"; directories end in "/").
std::optional<std::string> fnt_path_of(byte_span fnt, std::uint16_t id);

// Every file named in the table, in walk order: (file id, path).
std::vector<std::pair<std::uint16_t, std::string>> fnt_list_files(byte_span fnt);

// fnt_path_of for every id at once, from a single walk. Directories may share a sub-table, so one
// walk can visit up to 4096 times the entries the table holds; looking each file up with a walk
// of its own would multiply that by the number of files. The index keeps, for each id and each
// directory, only where its first entry lies, so its size does not depend on how long paths get.
class fnt_path_index {
public:
    explicit fnt_path_index(byte_span fnt);
    // The path fnt_path_of gives for this id.
    std::optional<std::string> path_of(std::uint16_t id) const;

private:
    struct place {
        std::uint32_t directory = 0; // the directory holding the entry
        std::uint32_t name_offset = 0;
        std::uint8_t name_length = 0;
        bool is_directory = false;
        bool found = false;
    };
    void append_directory_path(std::string& path, std::uint32_t directory) const;

    byte_span fnt;
    std::vector<place> ids;     // by id
    std::vector<place> entered; // by directory index: the entry through which the walk entered it
};

} // namespace qm
