#include "fault_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace quenbrook::faults {
namespace fs = std::filesystem;

std::string Reason(const Status& status) {
    return std::string(status.reason().begin(), status.reason().end());
}

std::vector<std::string> Temporaries(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().find(".quenbrook-") != std::string::npos)
            found.push_back(it->path().filename().string());
    return found;
}

std::string InChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child < 0) return "fork failed";
    if (child == 0) {
        ::close(fds[0]);
        const std::string out = body();
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) return "child died: signal " + std::to_string(WTERMSIG(status));
    return out;
}

std::string GameFile(std::string_view keyLine, std::size_t size, char tag) {
    std::string text = "[Civilization Gold]\r\n";
    if (!keyLine.empty()) text.append(keyLine).append("\r\n");
    text += "Sound=1\r\n";
    for (int i = 0; text.size() < size; ++i)
        text += "[Section" + std::string(1, tag) + std::to_string(i) + "]\r\nKey=Value" +
                std::to_string(i * 7919 % 1000) + "\r\n";
    return text;
}

}  // namespace quenbrook::faults
