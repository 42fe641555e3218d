#pragma once
// Where a rebuilt ROM image goes. The rebuild lays every section out first and then hands the
// image over front to back: pieces of bytes, and ranges of the source kept unchanged, each
// starting at or after the end of the one before; the bytes between them, and up to the end that
// `finish` gives, are zeros. Because the image arrives in file order, a sink can fingerprint it as
// it goes (sink_tap) instead of reading the result again.

#include "common/bytes.h"
#include "rom/rom_source.h"

#include <cstdint>

namespace qm {

// Sees every byte of an image in file order, zeros included.
class sink_tap {
public:
    virtual ~sink_tap() = default;
    virtual void take(byte_span data) = 0;
    virtual void take_zeros(std::uint64_t count) = 0;
    // The bytes of `block`, which the tap may keep: it may leave another buffer of the same size
    // in its place, so that the bytes need not be copied (ranges copied from the source).
    virtual void take_block(bytes& block) { take(block); }
};

class rom_sink {
public:
    virtual ~rom_sink() = default;

    // Before anything else, and before any section is handled: a sink that writes somewhere
    // makes sure it can.
    virtual void begin() {}
    // `data` at `at`.
    virtual void write(std::uint64_t at, byte_span data) = 0;
    // `size` bytes of `source` from `from`, unchanged, at `at`.
    virtual void keep(std::uint64_t at, rom_source& source, std::uint64_t from, std::uint64_t size) = 0;
    // The image ends at `size`; once this returns it is complete.
    virtual void finish(std::uint64_t size) = 0;

    // The rebuild holds the new contents of changed sections between its two passes. Past a budget
    // it offers them here instead, as soon as each has its place: a sink that can keep `data` for
    // its place `at` itself (a file writes it there at once) returns true, and is asked for it
    // with `put_back`, in its turn, in place of `write`.
    virtual bool set_aside(std::uint64_t at, byte_span data) { return (void)at, (void)data, false; }
    virtual void put_back(std::uint64_t at, std::uint64_t size) { (void)at, (void)size; }

    // The job's verdict, after finish: the image becomes the result, or is dropped. A sink that
    // is destroyed without either drops it.
    virtual void commit() {}
    virtual void discard() noexcept {}
};

// Takes the image and keeps nothing: a rebuild that only has to succeed or fail (a check).
class null_sink final : public rom_sink {
public:
    void write(std::uint64_t, byte_span) override {}
    void keep(std::uint64_t, rom_source&, std::uint64_t, std::uint64_t) override {}
    void finish(std::uint64_t) override {}
    bool set_aside(std::uint64_t, byte_span) override { return true; }
};

// The image in memory (tests, fuzzing, tools that go on working on the result).
class memory_sink final : public rom_sink {
public:
    explicit memory_sink(sink_tap* tap = nullptr) noexcept : tap(tap) {}

    void write(std::uint64_t at, byte_span data) override;
    void keep(std::uint64_t at, rom_source& source, std::uint64_t from, std::uint64_t size) override;
    void finish(std::uint64_t size) override;

    const bytes& image() const noexcept { return contents; }
    bytes take_image() noexcept { return std::move(contents); }

private:
    // Zeros up to `at`, where the next piece starts.
    mutable_byte_span grow_to(std::uint64_t at, std::uint64_t length);

    sink_tap* tap;
    bytes contents;
};

} // namespace qm
