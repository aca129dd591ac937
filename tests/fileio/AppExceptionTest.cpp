// The exception text, with our message file ResErrorMsg.dll beside the test
// program, where the platform's search rules find it first.
#include "fileio/AppException.h"
#include "tests/fileio/FileIoTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using fileiotest::AppText;

namespace {

const std::string kWriteText = "Data could not be written to the image database file. ";
const std::string kReadText = "Data could not be read from the image database file. ";
const std::string kEventText = "The file system layer could not create or wait for a synchronisation event. ";

}  // namespace

TEST(AppErrorText, TheThreeCodesComeFromTheMessageFileBesideTheProgram)
{
    std::string text;
    EXPECT_TRUE(GetAppErrorText(kAppErrorWrite, text));
    EXPECT_EQ(kWriteText, text);
    EXPECT_TRUE(GetAppErrorText(kAppErrorRead, text));
    EXPECT_EQ(kReadText, text);
    EXPECT_TRUE(GetAppErrorText(kAppErrorEvent, text));
    EXPECT_EQ(kEventText, text);

    // A code the file does not hold.
    text = "stale";
    EXPECT_FALSE(GetAppErrorText(0xC00403F1, text));
    EXPECT_EQ("<Text not found>", text);
    EXPECT_FALSE(GetAppErrorText(0, text));
    EXPECT_EQ("<Text not found>", text);
}

TEST(AppExceptionText, HasTheApplicationPartTheSystemPartTheLocationAndTheMessage)
{
    const AppException e("SaveBuffer():  WriteFile error.", kAppErrorWrite, ERROR_ACCESS_DENIED, "SequentialFile.cpp",
                         412);
    EXPECT_EQ("App Error 0xc00403f5: " + kWriteText + "Sys error 0x5: " + GetSystemErrorText(5) +
                  "  FILE: SequentialFile.cpp LINE: 412 - SaveBuffer():  WriteFile error.",
              std::string(e.what()));
    // The system's text, on one line.
    EXPECT_FALSE(GetSystemErrorText(5).empty());
    EXPECT_EQ(std::string::npos, GetSystemErrorText(5).find_first_of("\r\n"));
    EXPECT_STREQ("SaveBuffer():  WriteFile error.", e.Message());
    EXPECT_EQ(kAppErrorWrite, e.AppCode());
    EXPECT_EQ(5u, e.SysError());
    EXPECT_EQ(" FILE: SequentialFile.cpp LINE: 412", e.Location());

    // Caught as a standard exception it tells the same.
    try {
        throw e;
    } catch (const std::exception& caught) {
        EXPECT_EQ(std::string(e.what()), caught.what());
    }
}

TEST(AppExceptionText, EdgeLayouts)
{
    // Neither code: one space, the location, " - ", the message.
    EXPECT_STREQ("  FILE: FileBufferPool.cpp LINE: 7 - m", AppException("m", 0, 0, "FileBufferPool.cpp", 7).what());
    // No location: the space is followed at once by " - ".
    EXPECT_STREQ("  - m", AppException("m", 0, 0).what());
    // System error 1 is never looked up.
    EXPECT_STREQ("Sys error 0x1  - m", AppException("m", 0, 1).what());
    // A system code without a text keeps only its number.
    EXPECT_STREQ("Sys error 0x2000abcd  - m", AppException("m", 0, 0x2000ABCD).what());
    // A code the message file lacks.
    EXPECT_STREQ("App Error 0xc00403f1: <Text not found>  - m", AppException("m", 0xC00403F1, 0).what());
    // Lower-case hexadecimal without leading zeros, both parts run together.
    EXPECT_EQ("App Error 0xc00403fa: " + kReadText + "Sys error 0x26: " + GetSystemErrorText(38) + "  - m",
              std::string(AppException("m", kAppErrorRead, 38).what()));
}

TEST(AppExceptionText, CopiesCarryEveryField)
{
    const AppException original("LoadBuffer(): Failed to create event.", kAppErrorEvent, 8, "SequentialFile.cpp", 9);
    AppException copy = original;
    EXPECT_EQ(std::string(original.what()), copy.what());
    AppException assigned("other", 0, 0);
    assigned = original;
    EXPECT_EQ(std::string(original.what()), assigned.what());
    EXPECT_EQ(kAppErrorEvent, assigned.AppCode());
    EXPECT_EQ(8u, assigned.SysError());
    EXPECT_EQ(original.Location(), assigned.Location());
    EXPECT_NE(std::string::npos, std::string(copy.what()).find(kEventText + "Sys error 0x8: "));
}

TEST(Checks, ThrowTheirExceptionOnlyWhenTheConditionFails)
{
    EXPECT_NO_THROW(AppCheck(true, "m", kAppErrorRead));
    EXPECT_NO_THROW(AppCheck(true, "m", kAppErrorRead, 5));
    EXPECT_NO_THROW(RuntimeCheck(true, "m"));
    EXPECT_NO_THROW(RangeCheck(true, "m"));
    EXPECT_NO_THROW(IndexCheck(true, "m"));
    EXPECT_NO_THROW(ArgumentCheck(true, "m"));

    AppException app = fileiotest::CatchApp([] { AppCheck(false, "first", kAppErrorRead); });
    EXPECT_EQ(kAppErrorRead, app.AppCode());
    EXPECT_EQ(0u, app.SysError());
    EXPECT_STREQ("first", app.Message());
    EXPECT_EQ("", app.Location());
    app = fileiotest::CatchApp([] { AppCheck(false, "second", kAppErrorWrite, 112); });
    EXPECT_EQ(kAppErrorWrite, app.AppCode());
    EXPECT_EQ(112u, app.SysError());

    // Each standard kind exactly, not merely something derived from it.
    try {
        RuntimeCheck(false, "r");
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_EQ(typeid(std::runtime_error), typeid(e));
        EXPECT_STREQ("r", e.what());
    }
    try {
        RangeCheck(false, "g");
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_EQ(typeid(std::range_error), typeid(e));
        EXPECT_STREQ("g", e.what());
    }
    try {
        IndexCheck(false, "i");
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_EQ(typeid(std::out_of_range), typeid(e));
        EXPECT_STREQ("i", e.what());
    }
    try {
        ArgumentCheck(false, "a");
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_EQ(typeid(std::invalid_argument), typeid(e));
        EXPECT_STREQ("a", e.what());
    }
}
