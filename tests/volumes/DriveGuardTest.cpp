// Which drives the scan leaves alone, decided from the system's places.
#include "volumes/DriveGuard.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(DriveGuard, PathFormsNameTheirDrive)
{
    const struct {
        const char* path;
        char letter;
    } cases[] = {
        {"D:\\tools\\Mediaprep.exe", 'D'},   {"d:\\windows", 'D'},          {"\\\\?\\e:\\Mediaprep.exe", 'E'},
        {"\\\\.\\F:\\", 'F'},                {"\\??\\G:\\pagefile.sys", 'G'}, {"  h:\\pagefile.sys 0 0", 'H'},
        {"?:\\pagefile.sys", 0},             {"\\\\server\\share\\x.exe", 0}, {"\\\\?\\UNC\\server\\share", 0},
        {"pagefile.sys", 0},                 {"", 0},                        {"1:\\x", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.letter, DriveLetterOf(c.path)) << c.path;
}

TEST(DriveGuard, EachPlaceProtectsItsDriveOnly)
{
    SystemPlaces places;
    places.windowsDirectory = "D:\\WINDOWS";
    places.systemDirectory = "\\\\?\\e:\\Windows\\System32";
    places.programFile = "f:\\tools\\Mediaprep.exe";
    // PagingFiles and ExistingPageFiles as the registry holds them.
    places.pagingFiles = SplitMultiString("?:\\pagefile.sys\0g:\\pagefile.sys 0 0\0\0\\??\\H:\\pagefile.sys\0\0"s);
    ASSERT_EQ(3u, places.pagingFiles.size());

    const struct {
        char letter;
        const char* rootFile;
        const char* reason;
    } cases[] = {
        {'d', "", "the Windows directory"},
        {'E', "", "the system directory"},
        {'F', "", "the running program"},
        {'G', "", "a paging file"},
        {'H', "", "a paging file"},
        {'D', "hiberfil.sys", "the Windows directory"},
        {'J', "hiberfil.sys", "hiberfil.sys"},
        {'K', "swapfile.sys", "swapfile.sys"},
        {'L', "", ""},  // "?:" is a system-managed file, on no drive of its own
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reason, DriveProtection(c.letter, places, c.rootFile)) << c.letter;
    EXPECT_EQ("", DriveProtection('D', SystemPlaces{}, ""));
}
