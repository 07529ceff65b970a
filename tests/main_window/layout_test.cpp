// The layout table as the window's design gives it.
#include "main_window/layout.h"

#include <gtest/gtest.h>

#include <set>

namespace quenbrook::layout {
namespace {

TEST(LayoutTest, TabOrderIsUniqueAndFollowsTheTable) {
    std::set<int> seen;
    int previous = -1;
    for (const Control& c : Controls()) {
        if (c.tabIndex < 0) continue;
        EXPECT_TRUE(seen.insert(c.tabIndex).second) << c.name;
        EXPECT_GT(c.tabIndex, previous) << c.name;
        previous = c.tabIndex;
    }
    EXPECT_EQ(seen.size(), 19u);
}

TEST(LayoutTest, ContainersExistAndChildrenFitInside) {
    for (const Control& c : Controls()) {
        if (c.container.empty()) continue;
        const Control* frame = Find(c.container);
        ASSERT_NE(frame, nullptr) << c.name;
        EXPECT_EQ(frame->kind, Kind::Frame);
        EXPECT_LE(c.left + c.width, frame->width) << c.name;
        EXPECT_LE(c.top + c.height, frame->height) << c.name;
    }
}

TEST(LayoutTest, HandCursorIsThirtyTwoSquareWithItsHotSpotOnTheFinger) {
    auto rows = HandCursorRows();
    ASSERT_EQ(rows.size(), 32u);
    for (auto row : rows) EXPECT_EQ(row.size(), 32u);
    EXPECT_EQ(rows[kHandHotSpotY][kHandHotSpotX], 'X');
}

}  // namespace
}  // namespace quenbrook::layout
