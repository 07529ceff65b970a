// The differential test of the profile engine (Linux host side): the game reads civ.ini
// through Wine's profile calls, so every read of ours must agree with Wine's, and after
// every write of ours Wine must read back what was written.
//   profile_diff generate FOLDER   writes each case's file before and after each of our
//                                  writes, and the batch of reads for profile_oracle.exe
//   profile_diff compare FOLDER    compares Wine's answers with the engine's
// The corpus is hand-written cases plus files and operations generated from a fixed seed.
#include <cctype>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/profile_engine.h"

namespace {

using quenbrook::ApplyProfileEdit;
using quenbrook::CheckProfileWrite;
using quenbrook::FindProfileValue;
using quenbrook::PlanProfileWrite;

constexpr std::uint64_t kSeed = 0x5157'454e'4252'4f4fULL;
constexpr int kGeneratedCases = 600;
const std::string kMark = "\xef\xbb\xbf";

using Answer = std::optional<std::string>;  // nothing: the key is missing
struct Op {
    bool write = false;
    std::string section, key, value;
};
struct Case {
    std::string name, content;
    std::vector<Op> ops;
    std::string why;  // hand-written cases: what the case is about
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

Op R(std::string section, std::string key) { return {false, section, key, ""}; }
Op W(std::string section, std::string key, std::string value) { return {true, section, key, value}; }

std::vector<Case> HandCases() {
    std::vector<Case> cases;
    auto add = [&](std::string why, std::string content, std::vector<Op> ops) {
        cases.push_back({"hand" + std::to_string(cases.size()), std::move(content), std::move(ops),
                         std::move(why)});
    };
    // clang-format off
    const Op gold = R("Civilization Gold", "Simultaneous"), enable = W("Civilization Gold", "Simultaneous", "1");
    add("the game's file", "[Civilization Gold]\r\nSimultaneous=0\r\n[Civ2]\r\nPath=C:\\Civ2\\civ2.exe\r\n",
        {gold, R("civ2", "path"), R("Civ2", "Missing"), enable, W("Civ2", "Path", "D:\\Games\\civ2.exe")});
    add("an empty file", "", {R("Civ2", "Path"), enable});
    add("no final line break", "[Civ2]\r\nPath=a", {W("Civ2", "Other", "b"), W("New", "k", "v")});
    add("blanks, quotes, duplicates", "  [ S ]  \r\n\t k \t= \"v\"\r\nk=2\r\n[s]\r\nlater=1\r\n",
        {R("S", "k"), R(" s ", " K "), R("S", "later"), W("S", "k", "  spaced  "), W("S", "later", "x")});
    add("a quoted value rewritten", "[Civ2]\r\nPath=\"C:\\Old Games\\civ2.exe\"\r\n",
        {W("Civ2", "Path", "C:\\New\\civ2.exe"), W("Civ2", "Path", "  padded  "), W("Civ2", "Path", "\"q\"")});
    add("code page bytes", "[S]\r\nk=Spi\xe9le \xfc\xe4\r\n", {R("S", "k"), W("S", "k", "D\xe9j\xe0 vu")});
    add("vertical tab, form feed and Ctrl-Z are blanks", "[S]\r\n\x0bk\x0b=\x0bv\x0c\x1a\r\n\x0c[T]\x1a\r\nk=t\r\n",
        {R("S", "k"), R("T", "k"), R("S\t", "\tk")});
    add("lines above the first header form the section \"\"", "Path=before\r\n[Civ2]\r\nPath=inside\r\n[]\r\nk=e\r\n",
        {R("", "Path"), R("Civ2", "Path"), R("", "k"), W("Civ2", "Path", "x")});
    add("';' starts no comment", "[Civ2]\r\n;Path=commented\r\nPath=real\r\n;Only=comment\r\n",
        {R("Civ2", ";Only"), R("Civ2", "Path"), R("Civ2", ";Path")});
    add("a line without '=' hides the key after it", "[S]\r\nk\r\nk=1\r\n", {R("S", "k"), W("S", "k", "2")});
    add("a header without ']'", "[Civ2]\r\nPath=a\r\n[Civilization Gold\r\nSimultaneous=0\r\n",
        {gold, R("Civ2", "Simultaneous"), R("Civ2", "Path"), enable, R("Civ2", "Simultaneous")});
    add("a lone '[' and '[=x'", "[S]\r\n[\r\n[=x\r\nk=v\r\n", {R("S", "k"), R("S", "["), W("S", "k", "w")});
    add("a section name runs to the last ']'", "[sec]whoops]\r\nk=v\r\n[Civilization Gold]x]\r\nSimultaneous=0\r\n",
        {R("sec", "k"), R("sec]whoops", "k"), gold, enable});
    add("a UTF-8 byte-order mark", kMark + "[Civilization Gold]\r\nSound=1\r\n[Civ2]\r\nPath=a\r\n",
        {gold, R("Civilization Gold", "Sound"), enable, W("Civ2", "Path", "b")});
    add("a byte-order mark alone", kMark, {gold, enable});
    add("a byte-order mark, then a key", kMark + "k=top\r\n[S]\r\nk=s\r\n", {R("", "k"), R("S", "k"), W("S", "k", "t")});
    add("a NUL ends a value", std::string("[S]\r\nk=a\0b\r\nq=\"x\0y\"\r\n", 22), {R("S", "k"), R("S", "q"), W("S", "k", "c")});
    // clang-format on
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
    Case c;
    c.name = "gen" + std::to_string(index);
    static const std::vector<std::string> breaks = {"\r\n", "\r\n", "\r\n", "\n", "\n", "\r"};
    const std::string mainBreak = r.Pick(breaks);
    const bool mixed = r.Chance(5);
    auto brk = [&] { return mixed ? r.Pick(breaks) : mainBreak; };

    const bool utf8 = r.Chance(10);
    if (utf8) c.content = kMark;
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

    for (const auto& [s, k] : pairs) c.ops.push_back(R(Argument(r, s), Argument(r, k)));
    c.ops.push_back(R(r.Pick(kSections), "Absent"));
    c.ops.push_back(R("No Such Section", r.Pick(kKeys)));
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
        c.ops.push_back(W(section, key, value));
        pairs.emplace_back(section, key);
    }
    return c;
}

std::vector<Case> Corpus() {
    std::vector<Case> cases = HandCases();
    Random r{kSeed};
    for (int i = 0; i < kGeneratedCases; ++i) cases.push_back(GeneratedCase(r, i));
    return cases;
}

std::string Hex(const std::string& bytes) {
    std::string out = bytes.empty() ? "-" : "";
    for (unsigned char ch : bytes) {
        out += "0123456789abcdef"[ch >> 4];
        out += "0123456789abcdef"[ch & 15];
    }
    return out;
}

// One read for Wine, of the file as it stands after some of our writes.
struct Read {
    const Case& c;
    std::string file;  // that file's name, and its content
    const std::string& content;
    const Op& op;
    bool readBack;  // right after op, a write: Wine must read what it wrote
};

// Carries out each case's writes with the engine and hands over the reads: those of the
// case, and after each write the written key and every key read so far, read again.
void ForEachRead(
    const std::function<void(const std::string& file, const std::string& content)>& file,
    const std::function<void(const Read&)>& read) {
    for (const Case& c : Corpus()) {
        std::string content = c.content;
        std::string name = c.name + ".0.ini";
        if (file) file(name, content);
        std::vector<const Op*> seen;
        for (const Op& op : c.ops) {
            if (op.write) {
                if (auto edit = PlanProfileWrite(content, op.section, op.key, op.value))
                    content = ApplyProfileEdit(content, *edit);
                name = c.name + "." + std::to_string(seen.size() + 1) + ".ini";
                if (file) file(name, content);
                for (const Op* back : seen) read({c, name, content, *back, false});
            }
            read({c, name, content, op, op.write});
            seen.push_back(&op);
        }
    }
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

std::string Show(const Answer& a) {
    return a ? "\"" + a->substr(0, 60) + "\" (hex " + Hex(a->substr(0, 60)) + ")" : "(missing)";
}

int Generate(const std::string& folder) {
    std::ofstream batch(folder + "/batch.txt", std::ios::binary | std::ios::trunc);
    ForEachRead(
        [&](const std::string& name, const std::string& content) {
            std::ofstream(folder + "/" + name, std::ios::binary | std::ios::trunc) << content;
        },
        [&](const Read& r) { batch << Hex(r.file) << ' ' << Hex(r.op.section) << ' ' << Hex(r.op.key) << '\n'; });
    return batch ? 0 : 1;
}

// What is wrong with Wine's answer to r, the next line of results ("N": missing, or
// "V hex"), or the empty text.
std::string Check(const Read& r, std::istream& results) {
    std::string kind, hex;
    if (!(results >> kind) || (kind == "V" && !(results >> hex))) return "Wine gave no answer";
    Answer wine;
    if (kind == "V") wine.emplace();
    for (std::size_t i = 0; wine && hex != "-" && i + 1 < hex.size(); i += 2)
        *wine += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    const auto ours = FindProfileValue(r.content, r.op.section, r.op.key);
    const Answer engine = ours ? Answer(std::string(*ours)) : std::nullopt;
    if (engine != wine) return "engine " + Show(engine) + ", Wine " + Show(wine);
    // After a write: exactly the value, or (as on any key=value line) trimmed and unquoted.
    if (r.readBack && wine != r.op.value && wine != ReadsBackAs(r.op.value))
        return "wrote " + Show(r.op.value) + ", Wine reads " + Show(wine);
    return "";
}

int Compare(const std::string& folder) {
    std::ifstream results(folder + "/results.txt", std::ios::binary);
    std::set<std::string> cases, failing;
    std::size_t reads = 0, readBacks = 0;
    ForEachRead(nullptr, [&](const Read& r) {
        const std::string problem = Check(r, results);
        ++reads;
        readBacks += r.readBack;
        cases.insert(r.c.name);
        if (problem.empty()) return;
        failing.insert(r.c.name);
        std::cout << "DIFF " << r.c.name << (r.c.why.empty() ? "" : " (" + r.c.why + ")")
                  << ", " << r.file << ": [" << r.op.section << "] " << r.op.key << ": " << problem
                  << '\n';
    });
    const std::size_t passed = cases.size() - failing.size(), failed = failing.size();
    std::cout << "differential: " << reads << " reads compared with Wine, " << readBacks
              << " of them read-backs of our writes\n"
              << passed << " passed, " << failed << " failed\n";
    return failed == 0 && passed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode == "generate") return Generate(argv[2]);
    if (mode == "compare") return Compare(argv[2]);
    std::cerr << "usage: profile_diff generate|compare FOLDER\n";
    return 2;
}
