#pragma once
// RFC 3284 (VCDIFF) decoding of a whole delta against a source ("dictionary").

#include "common/bytes.h"

#include <string>

namespace qm {

// Decodes `delta` against `source` into `target` (cleared first). Returns false on any error;
// the partial output is then discarded and, when `why` is given, it receives a short reason.
bool vcdiff_decode(byte_span source, byte_span delta, bytes& target, std::string* why = nullptr);

} // namespace qm
