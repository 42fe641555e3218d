#include "ui/progress_state.h"

#include "rom/rom_visitor.h"
#include "ui/ui_texts.h"

#include <gtest/gtest.h>

namespace qm::ui {
namespace {

TEST(section_label, names_every_kind)
{
    const std::pair<std::uint32_t, const char*> named[] = {
        {0, "Padding"},
        {1, "Header"},
        {2, "ARM9 binary"},
        {3, "ARM7 binary"},
        {4, "FNT"},
        {5, "FAT"},
        {7, "ARM9 OVT"},
        {8, "ARM7 OVT"},
        {9, "Banner"},
        {make_section_code(arm9_overlay, 12), "OVL9-0012"},
        {make_section_code(arm7_overlay, 3), "OVL7-0003"},
        {make_section_code(arm7_overlay, 65535), "OVL7-65535"}};
    for (const auto& [code, label] : named)
        EXPECT_EQ(section_label(code, nullptr), label) << code;
    EXPECT_EQ(section_label(make_section_code(file, 12), "data/x.cpk"), "data/x.cpk");
    EXPECT_EQ(section_label(make_section_code(file, 12), nullptr), "");
    EXPECT_EQ(section_label(12, nullptr), std::nullopt);
}

TEST(progress_state, caption_shows_the_floored_percentage_when_it_grows_or_at_zero_and_not_once_cancelled)
{
    const std::string caption = "Application du patch en cours... ";
    progress_state s;
    s.set_total(100);
    EXPECT_EQ(s.position(0, false), caption + "(0%)");
    EXPECT_EQ(s.position(0, false), caption + "(0%)"); // 0 always rewrites
    // The double quotient times 100 falls just below the whole number.
    EXPECT_EQ(s.position(29, false), caption + "(28%)");
    EXPECT_EQ(s.position(30, false), caption + "(30%)");
    EXPECT_EQ(s.position(30, false), std::nullopt);
    EXPECT_EQ(s.position(100, false), caption + "(100%)");
    // A cancel freezes the caption and the bar until the flag clears (if the engine forgets it).
    EXPECT_EQ(s.position(50, true), std::nullopt);
    EXPECT_EQ(s.bar_position(), 100u);
    EXPECT_EQ(progress_state::status("FNT", true), std::nullopt);
    EXPECT_EQ(progress_state::status("FNT", false), "FNT");
    progress_state zero; // no total: 0 %, no division by zero
    EXPECT_EQ(zero.position(0, false), caption + "(0%)");
    EXPECT_EQ(zero.position(7, false), std::nullopt);
    EXPECT_EQ(zero.bar_position(), 7u);
}

TEST(progress_state, result_and_error_text)
{
    EXPECT_EQ(progress_state::result(false, false), 0);
    EXPECT_EQ(progress_state::result(true, false), -1);
    EXPECT_EQ(progress_state::result(false, true), -1);
    EXPECT_EQ(error_text("patcher::visit - bad checksum"),
              "Une erreur s'est produite:\n\npatcher::visit - bad checksum");
}

} // namespace
} // namespace qm::ui
