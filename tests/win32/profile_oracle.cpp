// The real profile calls for the differential test: reads a batch of operations, runs
// each through GetPrivateProfileStringA / WritePrivateProfileStringA, writes one result
// line per operation. One start of this program serves the whole corpus.
//   profile_oracle FOLDER BATCH RESULTS
// Batch lines (fields hex-encoded, "-" for the empty text):
//   R case op file section key          read
//   W case op file section key value    write
// Result lines: "case op V hex" (a value), "case op N" (missing), "case op OK",
// "case op FAIL error". After a write the case's later reads go to a fresh copy of the
// file, so that they see what reached the disk, not what Wine keeps in its cache.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Unhex(const std::string& field) {
    if (field == "-") return std::string();
    std::string out;
    for (std::size_t i = 0; i + 1 < field.size(); i += 2)
        out += static_cast<char>(std::stoi(field.substr(i, 2), nullptr, 16));
    return out;
}

std::string Hex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Never in a generated value: marks "the key is missing".
constexpr char kMissing[] = "\x01missing\x01";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: profile_oracle FOLDER BATCH RESULTS\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::ifstream batch(argv[2], std::ios::binary);
    std::ofstream results(argv[3], std::ios::binary | std::ios::trunc);
    if (!batch || !results) return 1;
    std::map<std::string, std::string> readFrom;  // case -> file its reads go to
    std::vector<char> buffer(1 << 20);
    for (std::string line; std::getline(batch, line);) {
        std::istringstream in(line);
        std::string kind, id, op, file, section, key, value;
        in >> kind >> id >> op >> file >> section >> key;
        const std::string path = folder + "\\" + Unhex(file);
        results << id << ' ' << op << ' ';
        if (kind == "R") {
            const std::string target = readFrom.count(id) ? readFrom[id] : path;
            const DWORD n = GetPrivateProfileStringA(Unhex(section).c_str(), Unhex(key).c_str(),
                                                     kMissing, buffer.data(),
                                                     static_cast<DWORD>(buffer.size()), target.c_str());
            const std::string got(buffer.data(), n);
            if (got == kMissing) results << "N\n";
            else results << "V " << Hex(got) << '\n';
        } else if (kind == "W") {
            in >> value;
            if (WritePrivateProfileStringA(Unhex(section).c_str(), Unhex(key).c_str(),
                                           Unhex(value).c_str(), path.c_str())) {
                results << "OK\n";
            } else {
                results << "FAIL " << GetLastError() << '\n';
            }
            const std::string copy = path + ".after" + op + ".ini";
            CopyFileA(path.c_str(), copy.c_str(), FALSE);
            readFrom[id] = copy;
        } else {
            results << "FAIL bad-line\n";
        }
    }
    return results ? 0 : 1;
}
