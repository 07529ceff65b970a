// The engine on bytes in memory: what the game reads, what a write changes, and which
// arguments are refused. Writes on whole files are the golden files' job, and so are the
// rules those files already pin (first key and section win, headers, CR and LF lines).
#include "platform/linux/profile_engine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "support/cases.h"

namespace quenbrook {
namespace {

using namespace std::string_literals;

class ProfileRead : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProfileRead, AsTheGameReadsIt) {
    const auto& row = GetParam();
    const auto value = FindProfileValue(row[0], row[1], row[2]);
    EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, row.at(3));
}
INSTANTIATE_CASES(ProfileRead, "profile_read");

TEST(ProfileWrite, TheCurrentValueNeedsNoEditANewOneUsesTheCallersNames) {
    const std::string ini = "[civilization gold]\r\n SIMULTANEOUS = \"1\" \r\nk=abc\r\n";
    EXPECT_FALSE(PlanProfileWrite(ini, " Civilization Gold ", "Simultaneous", "1"));
    EXPECT_TRUE(PlanProfileWrite(ini, "Civilization Gold", "k", "ABC"));  // byte for byte
    const auto edit = PlanProfileWrite("[S]\nold=1\n", "S", " New Key ", "");
    EXPECT_EQ(ApplyProfileEdit("[S]\nold=1\n", *edit), "[S]\nold=1\nNew Key=\n");
}

TEST(ProfileWrite, ArgumentsThatWouldBreakTheFileAreRefused) {
    const std::string refused[][4] = {
        {"", "k", "v", "section name is empty"},
        {" \t", "k", "v", "section name is empty"},
        {"S", " \t ", "v", "key name is empty"},
        {"S\r\nk=1", "k", "v", "section name contains a line break"},
        {"S", "k\nx", "v", "key name contains a line break"},
        {"S", "k", "1\r", "value contains a line break"},
        {"S\0x"s, "k", "v", "section name contains a NUL"},
        {"S", "k\0"s, "v", "key name contains a NUL"},
        {"S", "k", "1\0"s, "value contains a NUL"},
        {"S", "a=b", "v", "contains '='"},
        {"S", " ;k", "v", "starts with ';'"},
        {"S", "[k", "v", "starts with '['"},
        {"S]x", "k", "v", "contains ']'"},
    };
    for (const auto& row : refused) {
        const std::wstring reason = CheckProfileWrite(row[0], row[1], row[2]).reason();
        EXPECT_NE(reason.find(std::wstring(row[3].begin(), row[3].end())), std::wstring::npos) << row[3];
    }
    EXPECT_TRUE(CheckProfileWrite("[S", "k]", "=;[x]'\"").ok());
    EXPECT_TRUE(CheckProfileWrite(" S\t", "\tk;x\n", "").ok());
}

}  // namespace
}  // namespace quenbrook
