#pragma once
// The browser edition's sink: the rebuilt ROM is handed to the worker script piece by piece, in
// file order, and the worker script makes the download from it: the bytes written, slices of the
// player's File for the ranges kept unchanged (the browser copies neither those nor the zeros),
// and zeros. Most of a ROM thus never enters the engine's memory.

#include "rom/rom_sink.h"

namespace qm::web {

class web_sink final : public rom_sink {
public:
    // `tap`, when given, sees the whole image: the kept ranges are then read from the source to
    // show it to the tap too (the proof of the result needs every byte).
    explicit web_sink(sink_tap* tap = nullptr) noexcept : tap(tap) {}

    void write(std::uint64_t at, byte_span data) override;
    void keep(std::uint64_t at, rom_source& source, std::uint64_t from, std::uint64_t size) override;
    void finish(std::uint64_t size) override;

private:
    void skip_to(std::uint64_t at);

    sink_tap* tap;
    std::uint64_t end = 0;
    bytes block;
};

} // namespace qm::web
