#pragma once
// Case tables kept as data: tests/data/cases/TABLE.txt holds a row a line, its name and
// then its fields, split by tabs. Lines that start with `#`, and blank lines, are skipped.
// Escapes: \t \r \n \v \\ \0, \xHH for any byte, and `\-` alone for a field that is absent.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quenbrook::testing {

struct Case {
    std::string name;
    std::vector<std::optional<std::string>> fields;

    // Field i's bytes; a missing or absent field fails the test.
    const std::string& operator[](std::size_t i) const;
    const std::optional<std::string>& at(std::size_t i) const { return fields.at(i); }
    std::wstring wide(std::size_t i) const;  // field i, UTF-8, as a wide text
};

std::vector<Case> LoadCases(const std::string& table);
void PrintTo(const Case& row, std::ostream* out);
inline std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

}  // namespace quenbrook::testing

// INSTANTIATE_CASES(Suite, "table"): one test per row of tests/data/cases/table.txt.
#define INSTANTIATE_CASES(suite, table)                                                \
    INSTANTIATE_TEST_SUITE_P(Rows, suite,                                              \
                             ::testing::ValuesIn(::quenbrook::testing::LoadCases(table)), \
                             ::quenbrook::testing::CaseName)
