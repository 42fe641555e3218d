// @UTF tables and table chunks from anywhere. A table that parses must write out to bytes that
// parse again and write out the same: parsing and writing agree on every field they keep.
// The first input byte chooses a bare table or a chunk.

#include "cpk/utf_table.h"
#include "fuzz_support.h"

#include <stdexcept>
#include <string_view>

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
    try {
        again = utf_table::parse(written);
    } catch (const std::runtime_error& e) {
        // Parsing may cost at most so much per byte it is given, and writing drops the input's
        // slack: a table of empty rows near that bound can be refused from its smaller written
        // form. Any other refusal is a disagreement between writer and parser.
        fuzz::expect(std::string_view(e.what()) == "utf_table::parse failed - table too large for its bytes",
                     "written table does not parse");
        return 0;
    }
    fuzz::expect(again.name() == table.name() && again.row_count() == table.row_count() &&
                     again.columns().size() == table.columns().size(),
                 "written table differs in its shape");
    fuzz::expect(again.serialize() == written, "writing the table again changes it");
    return 0;
}
