#pragma once
// Runs a callable and returns the message of what it throws, or an empty string when it
// returns normally: tests compare error texts to the letter.

#include <exception>
#include <string>

namespace qm::test {

template <class F> std::string error_of(F&& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

} // namespace qm::test
