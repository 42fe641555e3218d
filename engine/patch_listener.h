#pragma once
// How the patch job reports status and progress to its front end. Called on the job's thread;
// a front end with its own UI thread hands the work over itself.

#include <cstdint>

namespace qm {

class patch_listener {
public:
    virtual ~patch_listener() = default;
    virtual void opening_source() = 0;
    virtual void source_opened() = 0;
    virtual void initialising() = 0;
    virtual void set_total(std::uint32_t total) = 0;
    virtual void initialised() = 0;
    // `path` is the file's path for sections of kind 6 (file), null for every other kind.
    virtual void section_started(std::uint32_t code, const char* path) = 0;
    // Steps done before the one that now begins.
    virtual void set_position(std::uint32_t position) = 0;
    virtual void finished() = 0;
};

// Shows nothing: for runs without a front end (authoring, benchmarks, fuzzing), which override
// only what they need.
class silent_listener : public patch_listener {
public:
    void opening_source() override {}
    void source_opened() override {}
    void initialising() override {}
    void set_total(std::uint32_t) override {}
    void initialised() override {}
    void section_started(std::uint32_t, const char*) override {}
    void set_position(std::uint32_t) override {}
    void finished() override {}
};

} // namespace qm
