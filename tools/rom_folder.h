#pragma once
// A ROM unpacked into a folder of files, as ROM hackers lay one out, and read back:
//
//   manifest.txt             what the rebuild needs beyond the files (rom_folder_manifest.h)
//   header.bin               the header section as stored: from 0 to its length (at least 0x180)
//   arm9.bin, arm7.bin       the ARM binaries as stored; arm9.bin with its 12-byte footer when the
//                            ROM has one
//   arm9ovt.bin, arm7ovt.bin the overlay tables as stored (when the ROM has them)
//   fnt.bin                  the file-name table as stored: names cannot change
//   banner.bin               the banner (when the ROM has one)
//   overlay9/overlay9_NNNN.bin, overlay7/overlay7_NNNN.bin
//                            each overlay, expanded when stored packed; NNNN is its entry in the
//                            table (the overlay's id is in the table and the section code)
//   data/PATH                every file the file-name table names, by its path
//   unnamed/ID.bin           FAT entries that neither the name table nor an overlay names
//   dsi.bin                  the DSi area of a DSi-enhanced ROM, when it can be carried over
//
// The FAT is not written: the rebuild lays every file out afresh and writes it.

#include "rom/rom_sink.h"
#include "tools/rom_folder_manifest.h"

#include <filesystem>

namespace qm {

// Unpacks the ROM at `rom_path` into `dir`, which must be missing or an empty folder. Every name
// of the file-name table is checked before anything is written: a name that would leave the
// folder or stand for something else ("..", "/", a backslash, a control character, an empty
// name), two entries of one directory with the same name, a file named twice or an overlay's file
// named are refused, naming the path. Files are created only where nothing exists yet. On any
// error, what was written is removed again. Returns the manifest written.
rom_folder_manifest unpack_rom(const std::filesystem::path& rom_path, const std::filesystem::path& dir);

// Reads dir/manifest.txt and checks the folder against it: every file it lists is there as a
// plain file, no file was added under data/, overlay9/, overlay7/ or unnamed/, the paths under
// data/ are the ones fnt.bin names for those files, the overlays are the entries of the tables
// in arm9ovt.bin and arm7ovt.bin with the same files and packing, and header.bin, arm9.bin,
// banner.bin and dsi.bin have the lengths and footer the manifest gives. Throws
// std::runtime_error naming the line of the manifest or the path in the folder.
rom_folder_manifest load_rom_folder(const std::filesystem::path& dir);

// Packs the folder `dir` back into a ROM, handed to `sink`, which the caller commits: the folder,
// read with load_rom_folder, is laid out as a ROM image (rom_folder_image.h) and goes through the
// same rebuild as any ROM, changing no section, so that an untouched folder gives exactly what
// rebuilding its source gives. Before the sink is begun, refuses a folder out of step with its
// manifest, and a header.bin or banner.bin whose fields contradict it, naming the file or line.
void pack_rom_folder(const std::filesystem::path& dir, rom_sink& sink);

} // namespace qm
