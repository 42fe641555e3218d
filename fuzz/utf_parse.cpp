// @UTF tables and table chunks from anywhere. A table that parses must write out to bytes that
// parse again and write out the same: parsing and writing agree on every field they keep.
// The first input byte chooses a bare table or a chunk.

#include "cpk/utf_table.h"
#include "fuzz_support.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::input_reader in(data, size);
    const bool chunk = in.u8() & 1;
    const byte_span bytes_in = in.rest();

    utf_table table;
    if (!fuzz::attempt([&] { table = chunk ? utf_table::from_chunk(bytes_in) : utf_table::parse(bytes_in); }))
        return 0;

    bytes written;
    if (!fuzz::attempt([&] { written = table.serialize(); }))
        return 0; // more columns than a written header can describe
    utf_table again;
    fuzz::expect(fuzz::attempt([&] { again = utf_table::parse(written); }), "written table does not parse");
    fuzz::expect(again.name() == table.name() && again.row_count() == table.row_count() &&
                     again.columns().size() == table.columns().size(),
                 "written table differs in its shape");
    fuzz::expect(again.serialize() == written, "writing the table again changes it");
    return 0;
}
