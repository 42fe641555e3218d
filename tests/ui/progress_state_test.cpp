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
    EXPECT_EQ(section_label(0xFFFF, nullptr), std::nullopt);
}

TEST(progress_state, caption_shows_the_floored_percentage_only_when_it_grows_or_at_zero)
{
    const std::string caption = "Application du patch en cours... ";
    progress_state s;
    s.set_total(100);
    EXPECT_EQ(s.position(0, false), caption + "(0%)");
    EXPECT_EQ(s.position(0, false), caption + "(0%)"); // 0 always rewrites
    EXPECT_EQ(s.position(1, false), caption + "(1%)");
    // The double quotient times 100 falls just below the whole number.
    EXPECT_EQ(s.position(29, false), caption + "(28%)");
    EXPECT_EQ(s.position(30, false), caption + "(30%)");
    EXPECT_EQ(s.position(30, false), std::nullopt);
    EXPECT_EQ(s.bar_position(), 30u);
    EXPECT_EQ(s.position(57, false), caption + "(56%)");
    EXPECT_EQ(s.position(58, false), caption + "(57%)");
    EXPECT_EQ(s.position(100, false), caption + "(100%)");
    EXPECT_EQ(progress_state::percent_of(1, 3), 33u);

    progress_state zero; // no total: 0 %, no division by zero
    EXPECT_EQ(zero.position(0, false), caption + "(0%)");
    EXPECT_EQ(zero.position(7, false), std::nullopt);
    EXPECT_EQ(progress_state::percent_of(5, 0), 0u);
}

TEST(progress_state, cancel_freezes_status_and_position_until_the_flag_clears)
{
    progress_state s;
    s.set_total(10);
    ASSERT_TRUE(s.position(2, false));
    EXPECT_EQ(s.position(5, true), std::nullopt);
    EXPECT_EQ(s.bar_position(), 2u);
    EXPECT_EQ(progress_state::status("FNT", true), std::nullopt);
    // A cancel forgotten by the engine: messages are handled again.
    EXPECT_EQ(progress_state::status("FNT", false), "FNT");
    EXPECT_EQ(s.position(5, false), "Application du patch en cours... (50%)");

    EXPECT_EQ(progress_state::result(false, false), 0);
    EXPECT_EQ(progress_state::result(true, false), -1);
    EXPECT_EQ(progress_state::result(false, true), -1);
}

TEST(progress_state, error_text_has_a_blank_line_before_the_message)
{
    EXPECT_EQ(error_text("patcher::visit - bad checksum"),
              "Une erreur s'est produite:\n\npatcher::visit - bad checksum");
}

} // namespace
} // namespace qm::ui
