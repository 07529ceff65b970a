// The differential test of the profile engine (Linux host side): the game reads civ.ini
// through Wine's profile calls, so every read of ours must agree with Wine's, and after
// every write of ours Wine must read back what was written. The corpus: the hand-written
// cases of tests/data/cases/profile_differential.txt, then cases from a fixed seed.
//   profile_diff generate FOLDER   each case's file before and after each of our writes,
//                                  and batch.txt, the reads for profile_oracle.exe
//   profile_diff compare FOLDER    Wine's answers (results.txt) against the engine's
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/profile_engine.h"
#include "support/cases.h"

namespace {

using namespace quenbrook;

constexpr std::uint64_t kSeed = 0x5157'454e'4252'4f4fULL;
constexpr int kGeneratedCases = 600;
const std::string kMissing = "\x01missing";  // profile_oracle's answer for a missing key

struct Op {
    bool write = false;
    std::string section, key, value;
};
struct Case {
    std::string name, content;
    std::vector<Op> ops;
};

// splitmix64: the same numbers on every host and library.
struct Random {
    std::uint64_t state;
    int Below(int n) {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return static_cast<int>((z ^ (z >> 31)) % static_cast<std::uint64_t>(n));
    }
    bool Chance(int percent) { return Below(100) < percent; }
    const std::string& Pick(const std::vector<std::string>& items) {
        return items[static_cast<std::size_t>(Below(static_cast<int>(items.size())))];
    }
};

// A row: the file's bytes, then "read SECTION KEY" or "write SECTION KEY VALUE", in order.
std::vector<Case> HandCases() {
    std::vector<Case> cases;
    for (const auto& row : quenbrook::testing::LoadCases("profile_differential")) {
        Case c{row.name, row.at(0).value(), {}};
        for (std::size_t i = 1; i < row.fields.size(); i += c.ops.back().write ? 4 : 3) {
            const bool write = row.at(i) == "write";
            if (!write && row.at(i) != "read") throw std::runtime_error(row.name + ": not read or write");
            c.ops.push_back({write, row.at(i + 1).value(), row.at(i + 2).value(),
                             write ? row.at(i + 3).value() : ""});
        }
        cases.push_back(c);
    }
    return cases;
}

// clang-format off
const std::vector<std::string> kSections = {"Civ2", "Civilization Gold", "civ2", "Sec A", "x", "Game-1", "a.b",
                                            "CIVILIZATION GOLD", "Net Play"};
const std::vector<std::string> kKeys = {"Path", "Simultaneous", "path", "Key 1", "k", "Other", "A.B",
                                        "SIMULTANEOUS", "#hash", "x y"};
// clang-format on

// utf8: for a file with a UTF-8 mark, where texts are UTF-8.
std::string RandomValue(Random& r, bool utf8) {
    const int kind = r.Below(12);
    const auto n = [&](int from, int more) { return std::size_t(from + r.Below(more)); };
    if (kind == 6) return std::string(n(200, 900), static_cast<char>('a' + r.Below(26)));
    if (kind == 10) return "\"" + std::string(n(250, 10), 'q') + "\"";
    if (kind == 11) return std::to_string(r.Below(100000));
    if (kind == 8 && utf8) return "Spiele";  // Wine reads a marked file as UTF-8
    // clang-format off
    static const char* const kFixed[] = {"", "\"quoted value\"", "'single'", "\"unbalanced", "a=b=c",
        "with ;semicolon #hash", "", "C:\\Program Files\\Civ2\\civ2.exe", "Spi\xe9le \xe0\xfc", "  padded  "};
    // clang-format on
    return kFixed[kind];
}

std::string Blank(Random& r) {
    return r.Pick({"", "", "", " ", "\t", "  ", " \t ", "\x0c", "\x1a"});
}

// A name as a caller might pass it: any case, blanks around.
std::string Argument(Random& r, std::string name) {
    if (r.Chance(30))
        for (char& c : name) c = static_cast<char>(std::isalpha(static_cast<unsigned char>(c)) ? c ^ 32 : c);
    if (r.Chance(15)) name = r.Pick({" ", "\t"}) + name;
    if (r.Chance(15)) name += "  ";
    return name;
}

Case GeneratedCase(Random& r, int index) {
    Case c{"gen" + std::to_string(index), "", {}};
    static const std::vector<std::string> breaks = {"\r\n", "\r\n", "\r\n", "\n", "\n", "\r"};
    const std::string mainBreak = r.Pick(breaks);
    const bool mixed = r.Chance(5);
    auto brk = [&] { return mixed ? r.Pick(breaks) : mainBreak; };

    const bool utf8 = r.Chance(10);
    if (utf8) c.content = "\xef\xbb\xbf";
    std::vector<std::pair<std::string, std::string>> pairs;
    const int sections = 1 + r.Below(5);
    for (int s = 0; s < sections; ++s) {
        const std::string section = r.Pick(kSections);
        std::string header = Blank(r) + "[" + (r.Chance(20) ? " " + section + " " : section);
        const int shape = r.Below(100);  // mostly whole; sometimes without ']' or with two
        header += shape < 5 ? "" : shape < 10 ? "]x]" : "]";
        if (r.Chance(10)) header += " ; after the bracket";
        c.content += header + brk();
        const int lines = r.Below(7);
        for (int l = 0; l < lines; ++l) {
            // A comment, a blank line, a line without '=' or (mostly) a key.
            const int kind = r.Below(10);
            const std::string key = kind < 3 ? "" : r.Pick(kKeys);
            if (kind < 3)
                c.content += r.Pick({Blank(r) + "; a comment line", "", "junk"}) + brk();
            else
                c.content += Blank(r) + key + Blank(r) + "=" + Blank(r) + RandomValue(r, utf8) +
                             Blank(r) + brk();
            if (kind >= 3) pairs.emplace_back(section, key);
        }
    }
    if (r.Chance(15))
        while (!c.content.empty() && (c.content.back() == '\r' || c.content.back() == '\n'))
            c.content.pop_back();

    for (const auto& [s, k] : pairs) c.ops.push_back({false, Argument(r, s), Argument(r, k), ""});
    c.ops.push_back({false, r.Pick(kSections), "Absent", ""});
    c.ops.push_back({false, "No Such Section", r.Pick(kKeys), ""});
    const int writes = r.Below(3);
    for (int w = 0; w < writes; ++w) {
        // A key that is there, or one that may be.
        auto [section, key] =
            !pairs.empty() && r.Chance(50)
                ? pairs[static_cast<std::size_t>(r.Below(static_cast<int>(pairs.size())))]
                : std::pair{r.Pick(kSections), r.Pick(kKeys) + r.Pick({"", "", "2"})};
        section = Argument(r, section);
        key = Argument(r, key);
        const std::string value = RandomValue(r, utf8);
        if (!CheckProfileWrite(section, key, value)) continue;
        c.ops.push_back({true, section, key, value});
        pairs.emplace_back(section, key);
    }
    return c;
}

// One read for Wine, of a file as it stands after some of our writes.
struct Read {
    std::string caseName, file, content;
    Op op;
    bool readBack;  // right after op, a write: Wine must read what it wrote
};

// Carries out each case's writes with the engine, saving each state of the file in folder
// when asked, and lists the reads: those of the case, and after each write the written key
// and every key read so far, read again.
std::vector<Read> Reads(const std::string& folder, bool save) {
    std::vector<Case> corpus = HandCases();
    Random r{kSeed};
    for (int i = 0; i < kGeneratedCases; ++i) corpus.push_back(GeneratedCase(r, i));
    std::vector<Read> reads;
    for (const Case& c : corpus) {
        std::string content = c.content, file = c.name + ".0.ini";
        if (save) std::ofstream(folder + "/" + file, std::ios::binary | std::ios::trunc) << content;
        std::vector<const Op*> seen;
        for (const Op& op : c.ops) {
            if (op.write) {
                if (auto edit = PlanProfileWrite(content, op.section, op.key, op.value))
                    content = ApplyProfileEdit(content, *edit);
                file = c.name + "." + std::to_string(seen.size() + 1) + ".ini";
                if (save) std::ofstream(folder + "/" + file, std::ios::binary | std::ios::trunc) << content;
                for (const Op* back : seen) reads.push_back({c.name, file, content, *back, false});
            }
            reads.push_back({c.name, file, content, op, op.write});
            seen.push_back(&op);
        }
    }
    return reads;
}

// What a value written as key=value reads back as: blanks trimmed, one pair of quotes gone.
std::string ReadsBackAs(std::string v) {
    const std::string blanks = " \t\v\f\r\n\x1a";
    v.erase(0, v.find_first_not_of(blanks));
    v.erase(v.find_last_not_of(blanks) + 1);
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        v = v.substr(1, v.size() - 2);
    return v;
}

// A text for the log: the hex of its start.
std::string Show(const std::string& text) {
    if (text == kMissing) return "(missing)";
    std::string out = "hex ";
    for (unsigned char ch : text.substr(0, 60))
        out += {"0123456789abcdef"[ch >> 4], "0123456789abcdef"[ch & 15]};
    return out;
}

// What is wrong with Wine's answer to r, the next answer in results, or the empty text.
std::string Check(const Read& r, std::istream& results) {
    std::string wine;
    if (!std::getline(results, wine, '\0')) return "Wine gave no answer";
    const auto ours = FindProfileValue(r.content, r.op.section, r.op.key);
    const std::string engine = ours ? std::string(*ours) : kMissing;
    if (engine != wine) return "engine " + Show(engine) + ", Wine " + Show(wine);
    // After a write: exactly the value, or (as on any key=value line) trimmed and unquoted.
    if (r.readBack && wine != r.op.value && wine != ReadsBackAs(r.op.value))
        return "wrote " + Show(r.op.value) + ", Wine reads " + Show(wine);
    return "";
}

int Compare(const std::vector<Read>& reads, const std::string& folder) {
    std::ifstream results(folder + "/results.txt", std::ios::binary);
    std::set<std::string> cases, failing;
    std::size_t readBacks = 0;
    for (const Read& r : reads) {
        const std::string problem = Check(r, results);
        readBacks += r.readBack;
        cases.insert(r.caseName);
        if (problem.empty()) continue;
        failing.insert(r.caseName);
        std::cout << "DIFF " << r.caseName << ", " << r.file << ": [" << r.op.section << "] " << r.op.key
                  << ": " << problem << '\n';
    }
    std::cout << "differential: " << reads.size() << " reads compared with Wine, " << readBacks
              << " of them read-backs of our writes\n"
              << cases.size() - failing.size() << " passed, " << failing.size() << " failed\n";
    return failing.empty() && !cases.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "", folder = argc == 3 ? argv[2] : "";
    if (mode != "generate" && mode != "compare") {
        std::cerr << "usage: profile_diff generate|compare FOLDER\n";
        return 2;
    }
    const std::vector<Read> reads = Reads(folder, mode == "generate");
    if (mode == "compare") return Compare(reads, folder);
    // Per read: the file's name, the section and the key, each ended by a NUL.
    std::ofstream batch(folder + "/batch.txt", std::ios::binary | std::ios::trunc);
    for (const Read& r : reads) batch << r.file << '\0' << r.op.section << '\0' << r.op.key << '\0';
    return batch ? 0 : 1;
}
