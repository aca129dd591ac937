#include "app/MediaprepDlg.h"
#include "app/Resource.h"

#include <gtest/gtest.h>

namespace {

std::string ItemText(HMENU menu, int position)
{
    char text[128] = "";
    ::GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
    return text;
}

}  // namespace

TEST(SystemMenu, TheAboutEntryFollowsASeparatorAndOnlyWhenItHasAText)
{
    HMENU menu = ::CreatePopupMenu();
    ASSERT_NE(nullptr, menu);
    ::AppendMenuA(menu, MF_STRING, SC_CLOSE, "&Close");

    AppendAboutEntry(menu, "");
    EXPECT_EQ(1, ::GetMenuItemCount(menu));

    AppendAboutEntry(menu, "&About Mediaprep...");
    ASSERT_EQ(3, ::GetMenuItemCount(menu));
    EXPECT_EQ(static_cast<UINT>(MF_SEPARATOR), ::GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), ::GetMenuItemID(menu, 2));
    EXPECT_EQ("&About Mediaprep...", ItemText(menu, 2));

    AppendAboutEntry(nullptr, "&About Mediaprep...");  // no system menu: nothing to do
    ::DestroyMenu(menu);
}
