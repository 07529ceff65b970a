// The engine on bytes in memory: what the game reads, what a write changes, and which
// arguments are refused. Writes on whole files are the golden files' job
// (profile_file_test.cpp).
#include "platform/linux/profile_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quenbrook {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

std::optional<std::string> Read(std::string_view content, std::string_view section,
                                std::string_view key) {
    const auto value = FindProfileValue(content, section, key);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::string Write(std::string_view content, std::string_view section, std::string_view key,
                  std::string_view value) {
    const auto edit = PlanProfileWrite(content, section, key, value);
    return edit ? ApplyProfileEdit(content, *edit) : std::string(content);
}

TEST(ProfileRead, NamesMatchWithoutCaseAndBlanksAreTrimmed) {
    const std::string ini =
        " \t[ \tcivilization GOLD\t ]  ; note\r\n \tsimultaneous \t=\t 1 \t\r\n";
    EXPECT_EQ(Read(ini, "Civilization Gold", "SIMULTANEOUS"), "1");
    // A vertical tab is a blank too, as Windows reads it.
    EXPECT_EQ(Read("[S]\r\n\vk\v=\vv\v\r\n", "S", "k"), "v");
    // Blanks inside a name are part of it.
    EXPECT_EQ(Read(ini, "CivilizationGold", "Simultaneous"), std::nullopt);
}

TEST(ProfileRead, CallerNamesLoseBlanksAsUnderWine) {
    const std::string ini = "[Civilization Gold]\r\nSimultaneous=1\r\n";
    EXPECT_EQ(Read(ini, "  Civilization Gold ", "   Simultaneous  "), "1");
    EXPECT_EQ(Read(ini, "\tCivilization Gold", "Simultaneous"), "1");
    EXPECT_EQ(Read(ini, "Civilization Gold", "Simultaneous\t\x1a"), "1");
}

TEST(ProfileRead, OnePairOfMatchingQuotesIsRemoved) {
    const std::string ini =
        "[S]\nd=\"1\"\ns='1'\nmixed=\"1'\ntwice=\"\"x\"\"\ninner=  \" a \"  \n"
        "one=\"\nempty=''\nmiddle=a\"b\"\n";
    EXPECT_EQ(Read(ini, "S", "d"), "1");
    EXPECT_EQ(Read(ini, "S", "s"), "1");
    EXPECT_EQ(Read(ini, "S", "mixed"), "\"1'");
    EXPECT_EQ(Read(ini, "S", "twice"), "\"x\"");
    EXPECT_EQ(Read(ini, "S", "inner"), " a ");
    EXPECT_EQ(Read(ini, "S", "one"), "\"");
    EXPECT_EQ(Read(ini, "S", "empty"), "");
    EXPECT_EQ(Read(ini, "S", "middle"), "a\"b\"");
}

TEST(ProfileRead, SemicolonNamesAreKeysAndALineWithoutEqualsHidesLaterOnes) {
    const std::string ini = "[S]\n;k=comment\n  \t; k=indented comment\nk\nk=found\n";
    EXPECT_EQ(Read(ini, "S", "k"), std::nullopt);
    EXPECT_EQ(Read(ini, "S", ";k"), "comment");
    // '#' is no comment to Windows.
    EXPECT_EQ(Read("[S]\n#k=1\n", "S", "#k"), "1");
}

TEST(ProfileRead, HeaderNameEndsAtLastBracketAndNeedsOne) {
    EXPECT_EQ(Read("[Civ]ilization]\nk=1\n", "Civ", "k"), std::nullopt);
    EXPECT_EQ(Read("[Civ]ilization]\nk=1\n", "Civ]ilization", "k"), "1");
    EXPECT_EQ(Read("[S]\n[ Civ  \nk=1\n", "S", "k"), "1");
    EXPECT_EQ(Read("[]\nk=1\n", "", "k"), std::nullopt);
}

TEST(ProfileRead, OnlyABracketFirstOnItsLineStartsASection) {
    // Outside the wanted section the walk jumps from '[' to '['; the ones inside lines,
    // or after a line's first byte, must not count.
    const std::string ini =
        "[A]\nk=[S]\nx [S]\n;[S]\n[A2]\rv=1\r \t[S]\rk=s\n[T]\nk=[S]\n\t[S]\nk=late\n";
    EXPECT_EQ(Read(ini, "S", "k"), "s");
    EXPECT_EQ(Read(ini, "A", "k"), "[S]");
    EXPECT_EQ(Read(ini, "T", "k"), "[S]");
    EXPECT_EQ(Read("x[S]\nk=1\n", "S", "k"), std::nullopt);
    EXPECT_EQ(Read("  [S]\r\nk=1\r\n", "S", "k"), "1");
}

TEST(ProfileRead, LinesBeforeTheFirstSectionFormTheSectionWithNoName) {
    const std::string ini = "k=top\n[S]\nother=1\n";
    EXPECT_EQ(Read(ini, "", "k"), "top");
    EXPECT_EQ(Read(ini, "S", "k"), std::nullopt);
}

TEST(ProfileRead, OnlyTheFirstSectionAndItsFirstKeyCount) {
    const std::string ini = "[S]\nk=first\nk=second\n[T]\nk=t\n[s]\nk=third\nonly=later\n";
    EXPECT_EQ(Read(ini, "S", "k"), "first");
    EXPECT_EQ(Read(ini, "T", "k"), "t");
    EXPECT_EQ(Read(ini, "S", "only"), std::nullopt);
}

TEST(ProfileRead, MissingSectionOrKeyGivesNothingButAnEmptyValueIsAValue) {
    const std::string ini = "[S]\nk=\nblank=  \t\n";
    EXPECT_EQ(Read(ini, "S", "k"), "");
    EXPECT_EQ(Read(ini, "S", "blank"), "");
    EXPECT_EQ(Read(ini, "S", "missing"), std::nullopt);
    EXPECT_EQ(Read(ini, "T", "k"), std::nullopt);
    EXPECT_EQ(Read("", "S", "k"), std::nullopt);
}

TEST(ProfileRead, LineBreaksOfEveryKindReadAlikeAndTheLastLineCounts) {
    for (const std::string_view br : {"\r\n"sv, "\n"sv, "\r"sv}) {
        SCOPED_TRACE(testing::PrintToString(std::string(br)));
        const std::string ini =
            "[A]"s + std::string(br) + "k=a" + std::string(br) + "[B]" + std::string(br) + "k=b";
        EXPECT_EQ(Read(ini, "A", "k"), "a");
        EXPECT_EQ(Read(ini, "B", "k"), "b");
    }
    // A CR right before CRLF makes an empty line; it does not join lines.
    EXPECT_EQ(Read("[A]\r\r\nk=1\r\r\n", "A", "k"), "1");
}

TEST(ProfileRead, ValuesKeepEqualsSignsAndAnyBytes) {
    const std::string ini = "[S]\r\nk=a=b\r\nbin=\x01\x00\xff z\r\n"s;
    EXPECT_EQ(Read(ini, "S", "k"), "a=b");
    EXPECT_EQ(Read(ini, "S", "bin"), "\x01"s);  // a NUL ends it
}

TEST(ProfileWrite, TheCurrentValueNeedsNoEdit) {
    const std::string ini = "[civilization gold]\r\n SIMULTANEOUS = \"1\" \r\nk=abc\r\n";
    EXPECT_FALSE(PlanProfileWrite(ini, " Civilization Gold ", "Simultaneous", "1"));
    EXPECT_FALSE(PlanProfileWrite(ini, "Civilization Gold", "k", "abc"));
    // Values are compared byte for byte: a change of case is a change.
    EXPECT_TRUE(PlanProfileWrite(ini, "Civilization Gold", "k", "ABC"));
}

TEST(ProfileWrite, NewLinesUseTheCallersNamesWithoutSpaces) {
    EXPECT_EQ(Write("", "  Civilization Gold ", " Simultaneous ", "1"),
              "[Civilization Gold]\r\nSimultaneous=1\r\n");
    EXPECT_EQ(Write("[S]\nold=1\n", "S", " New Key ", ""), "[S]\nold=1\nNew Key=\n");
}

TEST(ProfileWrite, WhatIsWrittenIsWhatTheGameReads) {
    // Values the quote and blank rules could mangle, written over values of every shape.
    const struct {
        std::string_view line;
        bool quoted;  // the value there keeps its quotes
    } olds[] = {
        {"k=0", false}, {"k = \"0\"", true}, {"k='' ", true}, {"k=", false}, {"other=1", false}};
    const std::string_view values[] = {"1", "", "\"q\"", "it's", "a=b;c [d]", "x\xff\x01"};
    for (const auto& old : olds) {
        for (std::string_view value : values) {
            const std::string ini = "[S]\r\n" + std::string(old.line) + "\r\n[T]\r\nk=t\r\n";
            const std::string after = Write(ini, "S", "k", value);
            SCOPED_TRACE(after);
            // Without quotes around it, a quoted value reads without them, as on Windows.
            const std::string_view read = (!old.quoted && value == "\"q\"") ? "q" : value;
            EXPECT_EQ(FindProfileValue(after, "S", "k"), read);
            EXPECT_EQ(FindProfileValue(after, "T", "k"), "t");
        }
    }
}

TEST(ProfileWrite, ArgumentsThatWouldBreakTheFileAreRefused) {
    const struct {
        std::string_view section, key, value, reason;
    } refused[] = {
        {"", "k", "v", "section name is empty"},
        {"  ", "k", "v", "section name is empty"},
        {"\t", "k", "v", "section name is empty"},
        {"S", "", "v", "key name is empty"},
        {"S", " \t ", "v", "key name is empty"},
        {"S\r\nk=1", "k", "v", "section name contains a line break"},
        {"S", "k\nx", "v", "key name contains a line break"},
        {"S", "k", "1\r", "value contains a line break"},
        {"S", "k", "1\r\n[Other]", "value contains a line break"},
        {"S\0x"sv, "k", "v", "section name contains a NUL"},
        {"S", "k\0"sv, "v", "key name contains a NUL"},
        {"S", "k", "1\0"sv, "value contains a NUL"},
        {"S", "a=b", "v", "contains '='"},
        {"S", ";k", "v", "starts with ';'"},
        {"S", " ;k", "v", "starts with ';'"},
        {"S", "[k", "v", "starts with '['"},
        {"S]x", "k", "v", "contains ']'"},
    };
    for (const auto& c : refused) {
        const Status status = CheckProfileWrite(c.section, c.key, c.value);
        SCOPED_TRACE(std::string(c.reason));
        ASSERT_FALSE(status.ok());
        const std::wstring wanted(c.reason.begin(), c.reason.end());
        EXPECT_NE(status.reason().find(wanted), std::wstring::npos);
    }
    // What the game reads fine is allowed.
    EXPECT_TRUE(CheckProfileWrite("[S", "k]", "=;[x]'\"").ok());
    EXPECT_TRUE(CheckProfileWrite(" S\t", "\tk;x\n", "").ok());
}

// A scan that looked for the next CR from every line of an LF file (or the other way
// round) would be quadratic and take minutes here; a linear one takes milliseconds.
TEST(ProfileWrite, LongFilesOfEitherBreakAreWalkedInLinearTime) {
    for (const std::string_view br : {"\r"sv, "\n"sv}) {
        std::string ini = "[Big]" + std::string(br);
        for (int i = 0; i < 500000; ++i) ini.append("k=v").append(br);
        const auto start = std::chrono::steady_clock::now();
        const auto edit = PlanProfileWrite(ini, "Civilization Gold", "Simultaneous", "1");
        const auto elapsed = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(edit);
        EXPECT_EQ(edit->offset, ini.size());
        EXPECT_LT(elapsed, std::chrono::seconds(2));
    }
}

}  // namespace
}  // namespace quenbrook
