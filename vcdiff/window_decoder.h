#pragma once
// Runs the instructions of one delta window, producing exactly its target bytes.

#include "common/bytes.h"
#include "vcdiff/section_reader.h"

namespace qm::vcdiff {

// `segment` is the window's source segment (possibly empty); `target` is the window's output,
// already sized to the window's target length. In the interleaved layout the three readers
// are one and the same. Throws decode_error when an instruction is invalid, needs data the
// sections lack, or leaves the target incomplete or overfull, or when instructions remain
// after the target is complete. Leftover data and addresses are the caller's to check.
void decode_window_body(byte_span segment, mutable_byte_span target, section_reader& data,
                        section_reader& instructions, section_reader& addresses);

} // namespace qm::vcdiff
