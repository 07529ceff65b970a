// The differential test of the profile engine (Linux host side): the game reads civ.ini
// through Wine's profile calls, so every read of ours must agree with Wine's, and after
// every write of ours Wine must read back what was written. Cases: profile_differential*.txt.
//   profile_diff generate FOLDER   each case's file after each of our writes, and batch.txt
//   profile_diff compare FOLDER    Wine's answers to batch.txt (results.txt) against ours
#include <fstream>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/civ_ini/profile_engine.h"
#include "support/cases.h"

namespace {

using namespace quenbrook;

const std::string kMissing = "\x01missing";  // the oracle's answer for a missing key

struct Op {
    bool write = false;
    std::string section, key, value;
};
// One read for Wine, of a file as it stands after some of our writes.
struct Read {
    std::string caseName, file, content;
    Op op;
    bool readBack;  // right after op, a write: Wine must read what it wrote
};

// Carries out each row's writes with the engine, saving each state of the file in folder
// when asked, and lists the reads: those of the row, and after each write the written key
// and every key read so far, read again. A row: the file's bytes, then "read SECTION KEY"
// or "write SECTION KEY VALUE", in order.
std::vector<Read> Reads(const std::string& folder, bool save) {
    std::vector<Read> reads;
    for (const char* table : {"profile_differential", "profile_differential_generated"}) {
        for (const auto& row : quenbrook::testing::LoadCases(table)) {
            const auto field = [&](std::size_t i) { return row.at(i).value(); };  // or throws
            std::string content = field(0), file = row.name + ".0.ini";
            const auto keep = [&] {
                if (save) std::ofstream(folder + "/" + file, std::ios::binary) << content;
            };
            keep();
            std::vector<Op> seen;
            for (std::size_t i = 1; i < row.fields.size(); i += seen.back().write ? 4 : 3) {
                const bool write = field(i) == "write";
                if (!write && field(i) != "read")
                    throw std::runtime_error(row.name + ": " + field(i));
                const Op op{write, field(i + 1), field(i + 2), write ? field(i + 3) : ""};
                if (write) {
                    if (auto edit = PlanProfileWrite(content, op.section, op.key, op.value))
                        content = ApplyProfileEdit(content, *edit);
                    file = row.name + "." + std::to_string(seen.size() + 1) + ".ini";
                    keep();
                    for (const Op& back : seen)
                        reads.push_back({row.name, file, content, back, false});
                }
                reads.push_back({row.name, file, content, op, write});
                seen.push_back(op);
            }
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

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "", folder = argc == 3 ? argv[2] : "";
    if (mode != "generate" && mode != "compare") return 2;
    const std::vector<Read> reads = Reads(folder, mode == "generate");
    if (mode == "generate") {
        // Per read: the file's name, the section and the key, each ended by a NUL.
        std::ofstream batch(folder + "/batch.txt", std::ios::binary);
        for (const Read& r : reads)
            batch << r.file << '\0' << r.op.section << '\0' << r.op.key << '\0';
        return batch ? 0 : 1;
    }
    std::ifstream results(folder + "/results.txt", std::ios::binary);
    std::set<std::string> cases, failing;
    std::size_t readBacks = 0;
    for (const Read& r : reads) {
        std::string wine;
        const bool answered = static_cast<bool>(std::getline(results, wine, '\0'));
        const auto ours = FindProfileValue(r.content, r.op.section, r.op.key);
        const std::string engine = ours ? std::string(*ours) : kMissing;
        readBacks += r.readBack;
        cases.insert(r.caseName);
        // After a write: exactly the value, or (as on any key=value line) trimmed and unquoted.
        const bool readsBack = wine == r.op.value || wine == ReadsBackAs(r.op.value);
        if (answered && engine == wine && (!r.readBack || readsBack)) continue;
        failing.insert(r.caseName);
        std::cout << "DIFF " << r.caseName << ", " << r.file << ": [" << r.op.section << "] "
                  << r.op.key << ": engine " << Show(engine) << ", Wine "
                  << (answered ? Show(wine) : "gave no answer")
                  << (r.readBack ? ", written " + Show(r.op.value) : "") << '\n';
    }
    std::cout << "differential: " << reads.size() << " reads compared with Wine, " << readBacks
              << " of them read-backs of our writes\n"
              << cases.size() - failing.size() << " passed, " << failing.size() << " failed\n";
    return failing.empty() && !cases.empty() ? 0 : 1;
}
