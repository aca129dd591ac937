// The exception text, with ResErrorMsg.dll beside the test program, where the search rules find it first.
#include "tests/fileio/FileIoTest.h"

TEST(AppException, TextsComeFromTheMessageFileAndTheSystem)
{
    const std::string kWriteText = "Data could not be written to the image database file. ";
    const std::string denied = GetSystemErrorText(5);
    EXPECT_FALSE(denied.empty());
    EXPECT_EQ(std::string::npos, denied.find_first_of("\r\n")) << "on one line";
    std::string text = "stale";
    EXPECT_FALSE(GetAppErrorText(0, text));
    EXPECT_EQ(kTextNotFound, text);

    // Each part only when there; lower-case hexadecimal without leading zeros; system error 1 not looked up.
    const std::pair<AppException, std::string> layouts[] = {
        {AppException("SaveBuffer():  WriteFile error.", kAppErrorWrite, 5, "SequentialFile.cpp", 412),
         "App Error 0xc00403f5: " + kWriteText + "Sys error 0x5: " + denied +
             "  FILE: SequentialFile.cpp LINE: 412 - SaveBuffer():  WriteFile error."},
        {AppException("m", 0, 0, "FileBufferPool.cpp", 7), "  FILE: FileBufferPool.cpp LINE: 7 - m"},
        {AppException("m", 0, 0), "  - m"},
        {AppException("m", 0, 1), "Sys error 0x1  - m"},
        {AppException("m", 0, 0x2000ABCD), "Sys error 0x2000abcd  - m"},
        {AppException("m", 0xC00403F1, 0), "App Error 0xc00403f1: <Text not found>  - m"},
        {AppException("m", kAppErrorEvent, 0),
         "App Error 0xc00403f0: The file system layer could not create or wait for a synchronisation event.   - m"}};
    for (const auto& [e, described] : layouts)
        EXPECT_EQ(described, std::string(e.what()));

    // A copy tells the same.
    AppException copy("other", 0, 0);
    copy = layouts[0].first;
    EXPECT_EQ(" FILE: SequentialFile.cpp LINE: 412", copy.Location());
    EXPECT_EQ(layouts[0].second, AppException(copy).what());

    EXPECT_NO_THROW(AppCheck(true, "m", kAppErrorRead));
    EXPECT_NO_THROW(AppCheck(true, "m", kAppErrorWrite, 112));
    EXPECT_EQ(kAppErrorRead, fileiotest::CatchApp([] { AppCheck(false, "m", kAppErrorRead); }).AppCode());
    EXPECT_EQ(112u, fileiotest::CatchApp([] { AppCheck(false, "m", kAppErrorWrite, 112); }).SysError());
    EXPECT_THROW(RuntimeCheck(false, "m"), std::runtime_error);
    EXPECT_THROW(IndexCheck(false, "m"), std::out_of_range);
    EXPECT_THROW(ArgumentCheck(false, "m"), std::invalid_argument);
}
