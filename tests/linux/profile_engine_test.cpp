// The engine on bytes in memory: what the game reads, what a write changes, and which
// arguments are refused. Writes on whole files are the golden files' job, and so are the
// rules those files already pin (first key and section win, headers, CR and LF lines).
#include "platform/linux/profile_engine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace quenbrook {
namespace {

using namespace std::string_literals;

struct ReadRow {
    const char* name;
    std::string ini, section, key;
    std::optional<std::string> value;
};
void PrintTo(const ReadRow& row, std::ostream* out) { *out << row.name; }
class ProfileRead : public ::testing::TestWithParam<ReadRow> {};
TEST_P(ProfileRead, AsTheGameReadsIt) {
    const auto& row = GetParam();
    const auto value = FindProfileValue(row.ini, row.section, row.key);
    EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, row.value);
}
const std::string kBlanks = " \t[ \tcivilization GOLD\t ]  ; note\r\n \tsimultaneous \t=\t 1 \t\r\n";
const std::string kQuotes = "[S]\nd=\"1\"\ns='1'\nmixed=\"1'\ntwice=\"\"x\"\"\ninner=  \" a \"  \none=\"\nempty=''\nmiddle=a\"b\"\n";
const std::string kBrackets = "[A]\nk=[S]\nx [S]\n;[S]\n[A2]\rv=1\r \t[S]\rk=s\n[T]\nk=[S]\n\t[S]\nk=late\n";
INSTANTIATE_TEST_SUITE_P(Rows, ProfileRead, ::testing::Values(
    ReadRow{"NamesWithoutCaseBlanksTrimmed", kBlanks, "Civilization Gold", "SIMULTANEOUS", "1"},
    ReadRow{"VerticalTabIsABlank", "[S]\r\n\vk\v=\vv\v\r\n", "S", "k", "v"},
    ReadRow{"BlanksInsideANameCount", kBlanks, "CivilizationGold", "Simultaneous", std::nullopt},
    ReadRow{"CallerNamesLoseBlanks", "[Civilization Gold]\r\nSimultaneous=1\r\n", "\tCivilization Gold ", "  Simultaneous\t\x1a", "1"},
    ReadRow{"DoubleQuotesGo", kQuotes, "S", "d", "1"},
    ReadRow{"SingleQuotesGo", kQuotes, "S", "s", "1"},
    ReadRow{"MixedQuotesStay", kQuotes, "S", "mixed", "\"1'"},
    ReadRow{"OnlyOnePairGoes", kQuotes, "S", "twice", "\"x\""},
    ReadRow{"BlanksInsideQuotesStay", kQuotes, "S", "inner", " a "},
    ReadRow{"ALoneQuoteStays", kQuotes, "S", "one", "\""},
    ReadRow{"EmptyQuotes", kQuotes, "S", "empty", ""},
    ReadRow{"QuotesInTheMiddleStay", kQuotes, "S", "middle", "a\"b\""},
    ReadRow{"LineWithoutEqualsHidesLaterKeys", "[S]\n;k=c\nk\nk=found\n", "S", "k", std::nullopt},
    ReadRow{"SemicolonNamesAreKeys", "[S]\n;k=comment\n", "S", ";k", "comment"},
    ReadRow{"HashIsNoComment", "[S]\n#k=1\n", "S", "#k", "1"},
    ReadRow{"HeaderNameEndsAtLastBracket", "[Civ]ilization]\nk=1\n", "Civ]ilization", "k", "1"},
    ReadRow{"EmptyHeaderIsNoSection", "[]\nk=1\n", "", "k", std::nullopt},
    ReadRow{"OnlyABracketFirstOnItsLineStartsASection", kBrackets, "S", "k", "s"},
    ReadRow{"BracketsInValues", kBrackets, "T", "k", "[S]"},
    ReadRow{"BracketAfterText", "x[S]\nk=1\n", "S", "k", std::nullopt},
    ReadRow{"BlanksBeforeAHeader", "  [S]\r\nk=1\r\n", "S", "k", "1"},
    ReadRow{"LinesBeforeTheFirstSectionHaveNoName", "k=top\n[S]\nother=1\n", "", "k", "top"},
    ReadRow{"BlankValue", "[S]\nk=  \t\n", "S", "k", ""},
    ReadRow{"CrBeforeCrLfIsAnEmptyLine", "[A]\r\r\nk=1\r\r\n", "A", "k", "1"},
    ReadRow{"EqualsInAValue", "[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
    ReadRow{"NulEndsAValue", "[S]\r\nbin=\x01\x00\xff z\r\n"s, "S", "bin", "\x01"}),
    [](const auto& info) { return std::string(info.param.name); });

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
