#include "ui/progress_state.h"

#include "rom/rom_visitor.h"
#include "ui/ui_texts.h"

#include <gtest/gtest.h>

namespace qm::ui {
namespace {

TEST(section_label, names_every_kind)
{
    EXPECT_EQ(section_label(0, nullptr), "Padding");
    EXPECT_EQ(section_label(1, nullptr), "Header");
    EXPECT_EQ(section_label(2, nullptr), "ARM9 binary");
    EXPECT_EQ(section_label(3, nullptr), "ARM7 binary");
    EXPECT_EQ(section_label(4, nullptr), "FNT");
    EXPECT_EQ(section_label(5, nullptr), "FAT");
    EXPECT_EQ(section_label(make_section_code(file, 12), "data/x.cpk"), "data/x.cpk");
    EXPECT_EQ(section_label(make_section_code(file, 12), nullptr), "");
    EXPECT_EQ(section_label(7, nullptr), "ARM9 OVT");
    EXPECT_EQ(section_label(8, nullptr), "ARM7 OVT");
    EXPECT_EQ(section_label(9, nullptr), "Banner");
    EXPECT_EQ(section_label(make_section_code(arm9_overlay, 12), nullptr), "OVL9-0012");
    EXPECT_EQ(section_label(make_section_code(arm7_overlay, 3), nullptr), "OVL7-0003");
    EXPECT_EQ(section_label(make_section_code(arm7_overlay, 65535), nullptr), "OVL7-65535");
    EXPECT_EQ(section_label(12, nullptr), std::nullopt);
    EXPECT_EQ(section_label(0xFFFF, nullptr), std::nullopt);
}

TEST(progress_state, percentage_is_the_floor_of_the_double_quotient)
{
    EXPECT_EQ(progress_state::percent_of(29, 100), 28u);
    EXPECT_EQ(progress_state::percent_of(57, 100), 56u);
    EXPECT_EQ(progress_state::percent_of(58, 100), 57u);
    EXPECT_EQ(progress_state::percent_of(100, 100), 100u);
    EXPECT_EQ(progress_state::percent_of(1, 3), 33u);
    EXPECT_EQ(progress_state::percent_of(2490, 2490), 100u);
    EXPECT_EQ(progress_state::percent_of(5, 0), 0u); // no division by zero
}

TEST(progress_state, caption_is_rewritten_only_when_the_percentage_grows_or_at_zero)
{
    progress_state s;
    s.set_total(100);
    EXPECT_EQ(s.position(0, false), "Application du patch en cours... (0%)");
    EXPECT_EQ(s.position(0, false), "Application du patch en cours... (0%)"); // 0 always rewrites
    EXPECT_EQ(s.position(1, false), "Application du patch en cours... (1%)");
    EXPECT_EQ(s.position(29, false), "Application du patch en cours... (28%)");
    EXPECT_EQ(s.position(30, false), "Application du patch en cours... (30%)");
    EXPECT_EQ(s.position(30, false), std::nullopt);
    EXPECT_EQ(s.bar_position(), 30u);
    EXPECT_EQ(s.position(100, false), "Application du patch en cours... (100%)");
}

TEST(progress_state, zero_total_shows_zero_percent)
{
    progress_state s;
    EXPECT_EQ(s.position(0, false), "Application du patch en cours... (0%)");
    EXPECT_EQ(s.position(7, false), std::nullopt);
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
}

TEST(progress_state, result_is_zero_only_without_error_and_cancel)
{
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
