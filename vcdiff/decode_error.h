#pragma once
// The one failure of VCDIFF decoding; vcdiff_decode turns it into its false result.

#include <stdexcept>

namespace qm::vcdiff {

class decode_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace qm::vcdiff
