#pragma once
// A patch_listener that writes down every call, for checking order and arguments.

#include "engine/patch_listener.h"

#include <functional>
#include <string>
#include <vector>

namespace qm::test {

class recording_listener : public patch_listener {
public:
    std::vector<std::string> calls; // e.g. "opening_source", "set_total 12", "section 0x10006 a/b.bin"
    std::vector<std::uint32_t> positions;
    std::function<void(const std::string&)> on_call; // hook, e.g. to cancel at a given moment

    void opening_source() override { note("opening_source"); }
    void source_opened() override { note("source_opened"); }
    void initialising() override { note("initialising"); }
    void set_total(std::uint32_t total) override { note("set_total " + std::to_string(total)); }
    void initialised() override { note("initialised"); }
    void section_started(std::uint32_t code, const char* path) override
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "section %#x ", code);
        note(buf + std::string(path ? path : "(null)"));
    }
    void set_position(std::uint32_t position) override
    {
        positions.push_back(position);
        note("position " + std::to_string(position));
    }
    void finished() override { note("finished"); }

    // The calls whose text begins with `prefix` (all but positions when none is given).
    std::vector<std::string> events(const std::string& prefix = "") const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (prefix.empty() ? c.rfind("position ", 0) != 0 : c.rfind(prefix, 0) == 0)
                out.push_back(c);
        return out;
    }

private:
    void note(std::string s)
    {
        if (calls.push_back(s); on_call)
            on_call(s);
    }
};

} // namespace qm::test
