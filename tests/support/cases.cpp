#include "support/cases.h"

#include <fstream>
#include <stdexcept>

namespace quenbrook::testing {

namespace {

std::optional<std::string> Unescape(const std::string& field, const std::string& where) {
    if (field == "\\-") return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (++i == field.size()) throw std::runtime_error(where + ": a lone \\ ends a field");
        switch (field[i]) {
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 'v': out += '\v'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case 'x':
            if (i + 2 >= field.size())
                throw std::runtime_error(where + ": \\x needs two hex digits");
            out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default: throw std::runtime_error(where + ": unknown escape \\" + field[i]);
        }
    }
    return out;
}

}  // namespace

const std::string& Case::operator[](std::size_t i) const {
    static const std::string none;
    if (i >= fields.size() || !fields[i]) {
        ADD_FAILURE() << name << ": field " << i << " is missing";
        return none;
    }
    return *fields[i];
}

std::wstring Case::wide(std::size_t i) const {
    // UTF-8 by hand: the tables are UTF-8 whatever the test's locale.
    std::wstring out;
    const std::string& bytes = (*this)[i];
    for (std::size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        const int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t c = more ? lead & (0x3F >> more) : lead;
        for (int k = 1; k <= more && at + k < bytes.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(bytes[at + k]) & 0x3F);
        out += static_cast<wchar_t>(c);
        at += 1 + more;
    }
    return out;
}

std::vector<Case> LoadCases(const std::string& table) {
    const std::string path = std::string(QUENBROOK_TEST_DATA) + "/cases/" + table + ".txt";
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<Case> rows;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        const std::string where = path + ":" + std::to_string(number);
        Case row;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            row.fields.push_back(Unescape(line.substr(start, tab - start), where));
        row.fields.push_back(Unescape(line.substr(start), where));
        row.name = row.fields.front().value_or("");
        row.fields.erase(row.fields.begin());
        rows.push_back(std::move(row));
    }
    return rows;
}

void PrintTo(const Case& row, std::ostream* out) { *out << row.name; }

}  // namespace quenbrook::testing
