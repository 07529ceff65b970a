// The Windows command line's arguments and the open dialog's filter.
#include <gtest/gtest.h>

#include "platform/win32/win32_cli.h"
#include "platform/win32/win32_window_system.h"

namespace quenbrook {
namespace {

TEST(Win32ArgumentsTest, OptionsBecomeTheRequest) {
    const ParsedArguments p = ParseArguments({L"--enable", L"--lock", L"--status"});
    EXPECT_TRUE(p.error.empty());
    EXPECT_TRUE(p.request.enable);
    EXPECT_TRUE(p.request.lock);
    EXPECT_TRUE(p.request.status);
    EXPECT_FALSE(p.request.unlock);
    EXPECT_FALSE(p.request.launch);

    const ParsedArguments launch = ParseArguments({L"--unlock", L"--launch"});
    EXPECT_TRUE(launch.error.empty());
    EXPECT_TRUE(launch.request.unlock && launch.request.launch);
    EXPECT_TRUE(ParseArguments({L"--help"}).help);
    EXPECT_TRUE(ParseArguments({L"--version"}).version);
}

TEST(Win32ArgumentsTest, UnknownOrContradictoryArgumentsAreUsageErrors) {
    EXPECT_NE(ParseArguments({L"--enabel"}).error.find(L"--enabel"), std::wstring::npos);
    EXPECT_FALSE(ParseArguments({L"--status", L"C:\\civ.ini"}).error.empty());
    EXPECT_FALSE(ParseArguments({L"--lock"}).error.empty());  // lock goes with enable
    EXPECT_FALSE(ParseArguments({L"--enable", L"--lock", L"--unlock"}).error.empty());
}

TEST(Win32DialogFilterTest, BarsBecomeNulsWithTheListEndingInTwo) {
    using namespace std::string_literals;
    EXPECT_EQ(DialogFilter("Civ 2 (Civ2.exe)|Civ2.exe|"), "Civ 2 (Civ2.exe)\0Civ2.exe\0\0"s);
    EXPECT_EQ(DialogFilter("A|*.a|B|*.b"), "A\0*.a\0B\0*.b\0\0"s);
}

}  // namespace
}  // namespace quenbrook
