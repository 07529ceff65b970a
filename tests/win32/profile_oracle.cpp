// Wine's profile calls for the differential test: reads a batch of reads, answers each
// through GetPrivateProfileStringA, one result line per read. One start of this program
// serves the whole corpus.
//   profile_oracle FOLDER BATCH RESULTS
// Batch lines: "file section key", hex-encoded, "-" for the empty text. Result lines, in
// the same order: "V hex" (a value) or "N" (the key is missing).
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Unhex(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; field != "-" && i + 1 < field.size(); i += 2)
        out += static_cast<char>(std::stoi(field.substr(i, 2), nullptr, 16));
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out = bytes.empty() ? "-" : "";
    for (unsigned char c : bytes) {
        out += "0123456789abcdef"[c >> 4];
        out += "0123456789abcdef"[c & 15];
    }
    return out;
}

// Never in a generated value: marks "the key is missing".
constexpr char kMissing[] = "\x01missing\x01";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    std::ifstream batch(argv[2], std::ios::binary);
    std::ofstream results(argv[3], std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(1 << 20);
    for (std::string line; std::getline(batch, line);) {
        std::istringstream in(line);
        std::string file, section, key;
        in >> file >> section >> key;
        const std::string path = std::string(argv[1]) + "\\" + Unhex(file);
        const DWORD n = GetPrivateProfileStringA(Unhex(section).c_str(), Unhex(key).c_str(),
                                                 kMissing, buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), path.c_str());
        const std::string got(buffer.data(), n);
        results << (got == kMissing ? "N" : "V " + Hex(got)) << '\n';
    }
    return results ? 0 : 1;
}
