#include "app/MediaprepDlg.h"
#include "app/Resource.h"

#include <gtest/gtest.h>

// The GUI test opens the About box through this entry; here, what it adds.
TEST(SystemMenu, TheAboutEntryFollowsASeparatorAndOnlyWhenItHasAText)
{
    HMENU menu = ::CreatePopupMenu();
    ::AppendMenuA(menu, MF_STRING, SC_CLOSE, "&Close");
    AppendAboutEntry(nullptr, "&About Mediaprep...");
    AppendAboutEntry(menu, "");
    EXPECT_EQ(1, ::GetMenuItemCount(menu));
    AppendAboutEntry(menu, "&About Mediaprep...");
    ASSERT_EQ(3, ::GetMenuItemCount(menu));
    EXPECT_TRUE(::GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), ::GetMenuItemID(menu, 2));
    ::DestroyMenu(menu);
}
