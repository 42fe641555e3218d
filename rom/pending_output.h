#pragma once
// An output file written under a temporary name beside its destination, so that a failed or
// cancelled run never leaves a half-written file at the destination or touches one that exists.

#include <filesystem>

namespace qm {

class pending_output {
public:
    // Picks a fresh temporary name in the destination's folder (the file itself is created by
    // whoever writes it).
    explicit pending_output(std::filesystem::path destination);
    ~pending_output(); // removes the temporary file unless committed
    pending_output(pending_output&& other) noexcept;
    pending_output& operator=(pending_output&&) = delete;
    pending_output(const pending_output&) = delete;
    pending_output& operator=(const pending_output&) = delete;

    const std::filesystem::path& temporary_path() const noexcept { return temporary; }
    const std::filesystem::path& destination() const noexcept { return destination_path; }

    // Renames the temporary file over the destination; throws std::runtime_error on failure
    // (the temporary file is then removed).
    void commit();
    // Removes the temporary file now.
    void discard() noexcept;

private:
    std::filesystem::path destination_path;
    std::filesystem::path temporary;
    bool done = false;
};

} // namespace qm
