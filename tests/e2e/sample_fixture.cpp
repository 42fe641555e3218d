#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "tools/make_patch.h"
#include "tools/sample_game.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

namespace {

bool sample_complete(const std::filesystem::path& dir)
{
    return std::filesystem::exists(dir / sample_original_name) &&
           std::filesystem::exists(dir / sample_translation_name) &&
           std::filesystem::exists(dir / "patch.bin");
}

std::string unique_suffix()
{
    static std::atomic<unsigned> counter{0};
    return std::to_string(::getpid()) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
           std::to_string(counter++);
}

std::string quoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

const std::filesystem::path& sample_dir()
{
    static const std::filesystem::path dir = [] {
        const std::filesystem::path d = QM_E2E_SAMPLE_DIR;
        if (!sample_complete(d)) {
            // Made aside and moved in whole, so that a test program running alongside never sees
            // half of it.
            const std::filesystem::path aside = d.parent_path() / ("sample-" + unique_suffix());
            make_sample(aside, sample_options{1, 1});
            write_whole_file(
                aside / "patch.bin",
                make_patch(aside / sample_original_name, aside / sample_translation_name).packed);
            std::error_code ec;
            std::filesystem::remove_all(d, ec);
            std::filesystem::rename(aside, d, ec);
            if (ec)
                std::filesystem::remove_all(aside, ec);
        }
        return d;
    }();
    return dir;
}

std::filesystem::path sample_original()
{
    return sample_dir() / sample_original_name;
}
std::filesystem::path sample_translation()
{
    return sample_dir() / sample_translation_name;
}

const bytes& sample_patch()
{
    static const bytes packed = read_whole_file(sample_dir() / "patch.bin");
    return packed;
}

scratch_dir::scratch_dir()
    : path_(std::filesystem::path(QM_BINARY_DIR) / "tests" / "e2e" / ("scratch-" + unique_suffix()))
{
    std::filesystem::create_directories(path_);
}

scratch_dir::~scratch_dir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int run_program(const std::vector<std::string>& argv, std::string* err)
{
    std::string command;
    for (const std::string& a : argv)
        command += quoted(a) + " ";
    const std::filesystem::path err_file =
        std::filesystem::path(QM_BINARY_DIR) / "tests" / "e2e" / ("stderr-" + unique_suffix());
    command += "</dev/null >/dev/null 2>" + quoted(err_file.string());
    const int status = std::system(command.c_str());
    if (err)
        *err = [&] {
            const bytes b = read_whole_file(err_file);
            return std::string(b.begin(), b.end());
        }();
    std::error_code ec;
    std::filesystem::remove(err_file, ec);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::filesystem::path tool_binary()
{
    return std::filesystem::path(QM_BINARY_DIR) / "cli" / "quillmoor-tool";
}
std::filesystem::path patch_binary()
{
    return std::filesystem::path(QM_BINARY_DIR) / "cli" / "quillmoor-patch";
}

std::uint32_t file_offset(byte_span image, std::uint16_t id)
{
    return get_le32(image, get_le32(image, 0x48) + 8u * id);
}

} // namespace qm::test

#include "engine/patch_archive.h"

namespace qm::test {

read_archive read_patch(byte_span packed)
{
    read_archive out;
    out.blobs = split_archive(unpack_archive(packed));
    const archive_index index = parse_archive_index(out.blobs.at(0));
    out.total_steps = index.total_steps;
    for (const archive_record& r : index.records) {
        read_record rec{r.stored_key, r.path.value_or(""), get_le32(r.body, 0), {}, {}};
        if (rec.patch_type == 1) {
            std::size_t at = 4;
            while (at + 4 <= r.body.size()) {
                const std::uint32_t w = get_le32(r.body, at);
                if (w == 0xFFFFFFFFu) {
                    rec.appended.push_back(get_le32(r.body, at + 4));
                    at += 8;
                    continue;
                }
                if (!rec.appended.empty())
                    break;
                read_entry e{w, get_le32(r.body, at + 4), get_le32(r.body, at + 8), 0};
                at += 12;
                if (e.type != 4) {
                    e.blob = get_le32(r.body, at);
                    at += 4;
                }
                rec.entries.push_back(e);
            }
        }
        out.records.push_back(std::move(rec));
    }
    return out;
}

} // namespace qm::test
