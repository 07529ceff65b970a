// The differential test of the profile engine (Linux host side): our engine against the
// real profile calls run under Wine by profile_oracle.exe.
//   profile_diff generate FOLDER   writes the corpus files and the oracle's batch
//   profile_diff compare FOLDER    compares the oracle's results with the engine's
// The corpus is hand-written cases plus files and operations generated from a fixed
// seed. Every read must agree; after every write every key of the file must read back
// the same through both (Wine rewrites the other lines, so bytes are not compared).
// Where Wine is known to differ from Windows, the case carries Windows' answer: the
// engine must give that, and Wine's answer is only reported.
//
// One difference is the engine's own choice: when it rewrites a value that the file had
// wrapped in quotes, it keeps the quotes, so the key reads back exactly as written even
// with blanks at its ends or quotes of its own. Windows writes the line as key=value and
// reads such a value trimmed and unquoted. Those read-backs are checked to be exactly
// that and reported as the engine's choice; any other disagreement fails.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
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

using Answer = std::optional<std::string>;  // nothing: the key is missing

struct Op {
    bool write = false;
    std::string section, key, value;
    std::optional<Answer> windows;  // a known Wine difference: what Windows answers
};

struct Case {
    std::string name;
    std::string content;
    std::vector<Op> ops;
    std::string why;  // for hand-written cases: what the case is about
    // Not empty: a known fault of the engine, awaiting its fix. The case must still fail
    // in just that way; once the engine gives Windows' answer it fails until this goes.
    std::string pending;
};

// splitmix64: the same numbers on every host and library.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    template <typename T>
    const T& Pick(const std::vector<T>& items) { return items[static_cast<std::size_t>(Below(static_cast<int>(items.size())))]; }

private:
    std::uint64_t state_;
};

Op Read(std::string section, std::string key) { return Op{false, std::move(section), std::move(key), "", std::nullopt}; }
Op Write(std::string section, std::string key, std::string value) {
    return Op{true, std::move(section), std::move(key), std::move(value), std::nullopt};
}
Op KnownRead(std::string section, std::string key, Answer windows) {
    return Op{false, std::move(section), std::move(key), "", windows};
}

// Hand-written: the game's own shapes, then every known difference with Windows' answer.
std::vector<Case> HandCases() {
    std::vector<Case> cases;
    auto add = [&](std::string why, std::string content, std::vector<Op> ops) {
        cases.push_back(Case{"hand" + std::to_string(cases.size()), std::move(content), std::move(ops), std::move(why), ""});
    };
    add("the game's file with the option",
        "[Civilization Gold]\r\nSimultaneous=1\r\n[Civ2]\r\nPath=C:\\Civ2\\civ2.exe\r\n",
        {Read("Civilization Gold", "Simultaneous"), Read("civ2", "path"), Read("Civ2", "Missing"),
         Write("Civilization Gold", "Simultaneous", "1"), Write("Civ2", "Path", "D:\\Games\\civ2.exe")});
    add("a new section in an empty file", "", {Read("Civ2", "Path"), Write("Civilization Gold", "Simultaneous", "1")});
    add("no final line break", "[Civ2]\r\nPath=a", {Write("Civ2", "Other", "b"), Write("New", "k", "v")});
    add("LF and CR line breaks", "[A]\nk=1\n[B]\rk=2\r[C]\r\nk=3", {Read("A", "k"), Read("B", "k"), Read("C", "k"), Write("B", "k", "x")});
    add("quotes: one matching pair goes",
        "[Q]\r\na=\"x y\"\r\nb='z'\r\nc=\"mixed'\r\nd=''two''\r\ne=\"\r\nf=\"\"\r\n",
        {Read("Q", "a"), Read("Q", "b"), Read("Q", "c"), Read("Q", "d"), Read("Q", "e"), Read("Q", "f")});
    add("blanks around names and values", "  [ Sec ]  \r\n\t key \t=\t value with  inner \t\r\n",
        {Read("Sec", "key"), Read(" Sec ", " key "), Write("Sec", "key", "  spaced  ")});
    add("duplicates: first section and first key win",
        "[S]\r\nk=first\r\nk=second\r\n[s]\r\nk=third\r\nonly=later\r\n",
        {Read("S", "k"), Read("S", "only"), Write("S", "k", "new"), Write("S", "only", "v")});
    add("'=' in the value, '#' and ';' inside lines", "[S]\r\na=b=c\r\n#h=hash key\r\nv=x ;not a comment\r\n",
        {Read("S", "a"), Read("S", "#h"), Read("S", "v")});
    add("empty values", "[S]\r\ne=\r\nf=   \r\n", {Read("S", "e"), Read("S", "f"), Write("S", "e", "")});
    add("text after a section's ']'", "[S] trailing words\r\nk=v\r\n", {Read("S", "k")});
    add("a long value", "[S]\r\nk=" + std::string(5000, 'L') + "\r\n", {Read("S", "k"), Write("S", "k", std::string(3000, 'M'))});
    add("the engine keeps the quotes of a value it rewrites",
        "[Civ2]\r\nPath=\"C:\\Old Games\\civ2.exe\"\r\n",
        {Write("Civ2", "Path", "C:\\New\\civ2.exe"), Write("Civ2", "Path", "  padded  "), Write("Civ2", "Path", "\"q\"")});
    add("code page bytes in values", "[S]\r\nk=Spi\xe9le \xfc\xe4\r\n", {Read("S", "k"), Write("S", "k", "D\xe9j\xe0 vu")});

    add("a vertical tab is a blank like space and tab",
        "[S]\r\n\x0bk\x0b=\x0bv\x0b\r\n", {Read("S", "k")});

    // Known differences: Windows' answer is the one the engine must give.
    add("lines before the first section are ignored by Windows",
        "Path=before\r\n[Civ2]\r\nPath=inside\r\n",
        {KnownRead("", "Path", std::nullopt), Read("Civ2", "Path")});
    add("a key starting with ';' is a comment on Windows",
        "[Civ2]\r\n;Path=commented\r\nPath=real\r\n;Only=comment\r\n",
        {KnownRead("Civ2", ";Only", std::nullopt), Read("Civ2", "Path")});
    add("a section line without ']' is a section on Windows",
        "[Civ2]\r\nPath=a\r\n[Civilization Gold\r\nSimultaneous=1\r\n",
        {KnownRead("Civilization Gold", "Simultaneous", "1"), KnownRead("Civ2", "Simultaneous", std::nullopt),
         Read("Civ2", "Path")});
    add("Windows does not recognise a UTF-8 byte order mark",
        "\xef\xbb\xbf[Civ2]\r\nPath=a\r\n[Civilization Gold]\r\nSimultaneous=1\r\n",
        {KnownRead("Civ2", "Path", std::nullopt), Read("Civilization Gold", "Simultaneous")});
    add("Windows strips only spaces from the arguments",
        "[Civ2]\r\nPath=a\r\n",
        {KnownRead("Civ2\t", "Path", std::nullopt), KnownRead("Civ2", "\tPath", std::nullopt),
         Read("  Civ2  ", "  Path ")});
    add("Windows ends a section name at its first ']'",
        "[sec]whoops]\r\nk=v\r\n", {KnownRead("sec", "k", "v")});
    add("Windows keeps a form feed at the end of a value",
        "[S]\r\nk=v\x0c\r\n", {KnownRead("S", "k", "v\x0c")});
    return cases;
}

// --- Generated cases -------------------------------------------------------------------

const std::vector<std::string> kSections = {"Civ2", "Civilization Gold", "civ2", "Sec A", "x",
                                            "Game-1", "a.b", "CIVILIZATION GOLD", "Net Play"};
const std::vector<std::string> kKeys = {"Path", "Simultaneous", "path", "Key 1", "k", "Other",
                                        "A.B", "SIMULTANEOUS", "#hash", "x y"};

std::string RandomValue(Random& r) {
    switch (r.Below(12)) {
    case 0: return "";
    case 1: return "\"quoted value\"";
    case 2: return "'single'";
    case 3: return "\"unbalanced";
    case 4: return "a=b=c";
    case 5: return "with ;semicolon #hash";
    case 6: return std::string(static_cast<std::size_t>(200 + r.Below(900)), static_cast<char>('a' + r.Below(26)));
    case 7: return "C:\\Program Files\\Civ2\\civ2.exe";
    case 8: return "Spi\xe9le \xe0\xfc";
    case 9: return "  padded  ";
    case 10: return "\"" + std::string(static_cast<std::size_t>(250 + r.Below(10)), 'q') + "\"";
    default: return std::to_string(r.Below(100000));
    }
}

// Blanks the file may carry around names, values and headers (not the caller's arguments).
std::string Blank(Random& r) {
    static const std::vector<std::string> blanks = {"", "", "", " ", "\t", "  ", " \t "};
    return r.Pick(blanks);
}

// A name as a caller might pass it: any case, spaces around.
std::string Argument(Random& r, std::string name) {
    if (r.Chance(30)) {
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
    }
    if (r.Chance(15)) name = " " + name;
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

    std::vector<std::pair<std::string, std::string>> pairs;
    const int sections = 1 + r.Below(5);
    for (int s = 0; s < sections; ++s) {
        const std::string section = r.Pick(kSections);
        std::string header = Blank(r) + "[" + (r.Chance(20) ? " " + section + " " : section) + "]";
        if (r.Chance(10)) header += " ; after the bracket";
        c.content += header + brk();
        const int lines = r.Below(7);
        for (int l = 0; l < lines; ++l) {
            switch (r.Below(10)) {
            case 0: c.content += Blank(r) + "; a comment line" + brk(); break;
            case 1: c.content += brk(); break;
            case 2: c.content += "junk without equals" + brk(); break;
            default: {
                const std::string key = r.Pick(kKeys);
                c.content += Blank(r) + key + Blank(r) + "=" + Blank(r) + RandomValue(r) + Blank(r) + brk();
                pairs.emplace_back(section, key);
            }
            }
        }
    }
    if (r.Chance(15) && !c.content.empty()) {
        // No final line break.
        while (!c.content.empty() && (c.content.back() == '\r' || c.content.back() == '\n')) c.content.pop_back();
    }

    // Reads of every key placed, and of some that are not there.
    for (const auto& [s, k] : pairs) c.ops.push_back(Read(Argument(r, s), Argument(r, k)));
    c.ops.push_back(Read(r.Pick(kSections), "Absent"));
    c.ops.push_back(Read("No Such Section", r.Pick(kKeys)));

    const int writes = r.Below(3);
    for (int w = 0; w < writes; ++w) {
        std::string section, key;
        if (!pairs.empty() && r.Chance(50)) {
            const auto& p = pairs[static_cast<std::size_t>(r.Below(static_cast<int>(pairs.size())))];
            section = Argument(r, p.first);
            key = Argument(r, p.second);
        } else {
            section = r.Chance(50) ? r.Pick(kSections) : "New Section " + std::to_string(r.Below(3));
            key = r.Chance(50) ? r.Pick(kKeys) : "NewKey" + std::to_string(r.Below(3));
        }
        std::string value = RandomValue(r);
        if (!CheckProfileWrite(section, key, value)) continue;
        c.ops.push_back(Write(section, key, value));
        pairs.emplace_back(section, key);
    }
    return c;
}

// The whole corpus; the same on every run.
std::vector<Case> Corpus() {
    std::vector<Case> cases = HandCases();
    Random r(kSeed);
    for (int i = 0; i < kGeneratedCases; ++i) cases.push_back(GeneratedCase(r, i));
    return cases;
}

// After a write, each key the case has read or written is read back.
std::vector<Op> Expand(const Case& c) {
    std::vector<Op> ops, readBacks;
    for (const Op& op : c.ops) {
        ops.push_back(op);
        if (!op.write) {
            readBacks.push_back(op);
            continue;
        }
        readBacks.push_back(Read(op.section, op.key));
        for (const Op& back : readBacks) ops.push_back(Read(back.section, back.key));
    }
    // Known differences are asked before any write only; the read-backs are plain.
    for (Op& op : ops)
        if (op.write) op.windows.reset();
    return ops;
}

std::string Hex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char ch : bytes) {
        out += digits[ch >> 4];
        out += digits[ch & 15];
    }
    return out;
}

std::string Show(const Answer& a) {
    if (!a) return "(missing)";
    std::string out = "\"";
    for (unsigned char ch : a->substr(0, 60)) {
        if (ch < 32 || ch >= 127) {
            static const char digits[] = "0123456789abcdef";
            out += "\\x";
            out += digits[ch >> 4];
            out += digits[ch & 15];
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + (a->size() > 60 ? "...\" (" + std::to_string(a->size()) + " bytes)" : "\"");
}

std::string Unhex(const std::string& field) {
    if (field == "-") return std::string();
    std::string out;
    for (std::size_t i = 0; i + 1 < field.size(); i += 2)
        out += static_cast<char>(std::stoi(field.substr(i, 2), nullptr, 16));
    return out;
}

std::string_view Trimmed(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    return v;
}

// What Windows reads from a line it wrote as key=value.
std::string WindowsReadsBack(std::string_view value) {
    std::string_view v = Trimmed(value);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// A name as the profile calls match it: spaces around dropped, ASCII case folded.
std::string Folded(std::string_view name) {
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Whether the key's value in content is wrapped in quotes in the file.
bool StoredQuoted(const std::string& content, const std::string& section, const std::string& key) {
    const std::optional<std::string_view> value = FindProfileValue(content, section, key);
    if (!value) return false;
    // FindProfileValue points into content: look at the bytes around the value.
    const std::size_t at = static_cast<std::size_t>(value->data() - content.data());
    return at > 0 && at + value->size() < content.size() &&
           (content[at - 1] == '"' || content[at - 1] == '\'') && content[at + value->size()] == content[at - 1];
}

int Generate(const std::string& folder) {
    std::ofstream batch(folder + "/batch.txt", std::ios::binary | std::ios::trunc);
    std::size_t operations = 0;
    const std::vector<Case> corpus = Corpus();
    for (const Case& c : corpus) {
        const std::string file = c.name + ".ini";
        std::ofstream(folder + "/" + file, std::ios::binary | std::ios::trunc) << c.content;
        const std::vector<Op> ops = Expand(c);
        for (std::size_t i = 0; i < ops.size(); ++i) {
            const Op& op = ops[i];
            batch << (op.write ? "W " : "R ") << c.name << ' ' << i << ' ' << Hex(file) << ' '
                  << Hex(op.section) << ' ' << Hex(op.key);
            if (op.write) batch << ' ' << Hex(op.value);
            batch << '\n';
            ++operations;
        }
    }
    std::cout << corpus.size() << " files, " << operations << " operations\n";
    return batch ? 0 : 1;
}

int Compare(const std::string& folder) {
    std::map<std::string, std::string> results;  // "case op" -> the rest of the line
    std::ifstream in(folder + "/results.txt", std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, op, rest;
        fields >> id >> op;
        std::getline(fields >> std::ws, rest);
        results[id + " " + op] = rest;
    }
    int passed = 0, failed = 0, knownSeen = 0, engineChoice = 0, pending = 0;
    for (const Case& c : Corpus()) {
        std::string content = c.content;
        // Keys the engine rewrote inside their quotes: (section, key) -> what Windows
        // reads back, and the value written.
        std::map<std::pair<std::string, std::string>, std::pair<std::string, std::string>> keptQuotes;
        const std::vector<Op> ops = Expand(c);
        bool caseOk = true;
        auto fail = [&](std::size_t i, const std::string& what) {
            std::cout << "DIFF " << c.name << " op " << i << (c.why.empty() ? "" : " (" + c.why + ")")
                      << ": " << what << '\n';
            caseOk = false;
        };
        for (std::size_t i = 0; i < ops.size(); ++i) {
            const Op& op = ops[i];
            const auto found = results.find(c.name + " " + std::to_string(i));
            if (found == results.end()) {
                fail(i, "the oracle gave no result");
                continue;
            }
            const std::string& wine = found->second;
            if (op.write) {
                if (wine != "OK") fail(i, "Wine refused the write: " + wine);
                const auto name = std::make_pair(Folded(op.section), Folded(op.key));
                keptQuotes.erase(name);
                if (StoredQuoted(content, op.section, op.key) && WindowsReadsBack(op.value) != op.value)
                    keptQuotes[name] = {WindowsReadsBack(op.value), op.value};
                if (auto edit = PlanProfileWrite(content, op.section, op.key, op.value))
                    content = ApplyProfileEdit(content, *edit);
                continue;
            }
            const std::optional<std::string_view> ours = FindProfileValue(content, op.section, op.key);
            const Answer engine = ours ? Answer(std::string(*ours)) : std::nullopt;
            const Answer wineAnswer = wine == "N" ? std::nullopt : Answer(Unhex(wine.substr(2)));
            const std::string where = "[" + op.section + "] " + op.key + ": ";
            if (op.windows && !c.pending.empty()) {
                if (engine == *op.windows)
                    fail(i, where + "the engine now gives Windows' answer " + Show(engine) +
                                "; take the case off the pending list");
                else if (wineAnswer != *op.windows)
                    fail(i, where + "Wine " + Show(wineAnswer) + ", Windows " + Show(*op.windows));
                else
                    std::cout << "PENDING " << c.name << " (" << c.pending << "): engine " << Show(engine)
                              << ", Windows and Wine " << Show(*op.windows) << '\n';
            } else if (op.windows) {
                ++knownSeen;
                if (engine != *op.windows)
                    fail(i, where + "engine " + Show(engine) + ", Windows " + Show(*op.windows));
                else
                    std::cout << "known " << c.name << " (" << c.why << "): Windows and engine "
                              << Show(engine) << ", Wine " << Show(wineAnswer) << '\n';
            } else if (const auto kept = keptQuotes.find({Folded(op.section), Folded(op.key)});
                       kept != keptQuotes.end() && engine != wineAnswer) {
                ++engineChoice;
                if (wineAnswer != Answer(kept->second.first))
                    fail(i, where + "Wine " + Show(wineAnswer) + ", but Windows would read " +
                                Show(kept->second.first));
                if (engine != Answer(kept->second.second))
                    fail(i, where + "engine " + Show(engine) + ", but it wrote " + Show(kept->second.second));
            } else if (engine != wineAnswer) {
                fail(i, where + "engine " + Show(engine) + ", Wine " + Show(wineAnswer));
            }
        }
        if (!caseOk) ++failed;
        else if (!c.pending.empty()) ++pending;
        else ++passed;
    }
    std::cout << "differential: " << knownSeen << " known differences checked against Windows; "
              << engineChoice << " read-backs where the engine kept a value's quotes; " << pending
              << " pending engine faults\n";
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 && passed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: profile_diff generate|compare FOLDER\n";
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "generate") return Generate(argv[2]);
    if (mode == "compare") return Compare(argv[2]);
    std::cerr << "usage: profile_diff generate|compare FOLDER\n";
    return 2;
}
