// Reads the differential test's files with Wine's own profile call; one start of this
// program serves the whole corpus.
//   profile_oracle FOLDER BATCH RESULTS
// BATCH holds, per read, a file's name in FOLDER, a section and a key, each ended by a NUL.
// RESULTS gets, per read, what Wine found or "\x01missing", ended by a NUL.
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    std::ifstream batch(argv[2], std::ios::binary);
    std::ofstream results(argv[3], std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(1 << 20);
    std::string file, section, key;
    while (std::getline(batch, file, '\0') && std::getline(batch, section, '\0') &&
           std::getline(batch, key, '\0')) {
        const std::string path = std::string(argv[1]) + "\\" + file;
        const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01missing", buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), path.c_str());
        results.write(buffer.data(), n) << '\0';
    }
    return results ? 0 : 1;
}
