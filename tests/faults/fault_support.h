#pragma once
// What the fault tests share: a child process to run a body in, our temporary files, and
// civ.ini files shaped like the game's.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quenbrook::faults {

inline constexpr const char* kSection = "Civilization Gold";
inline constexpr const char* kKey = "Simultaneous";

// The reason of a failed status, as bytes (our reasons are ASCII).
std::string Reason(const Status& status);

// Names in folder that look like our temporary files.
std::vector<std::string> Temporaries(const std::filesystem::path& folder);

// Runs body in a forked child and gives back the text it returned. A child that dies
// gives "child died: signal N" instead, so a crash is a failed expectation, not a lost
// test run.
std::string InChild(const std::function<std::string()>& body);

// A civ.ini as the game leaves it: [Civilization Gold] with `keyLine` (may be empty),
// then other sections tagged with `tag` until the file has at least `size` bytes.
std::string GameFile(std::string_view keyLine, std::size_t size, char tag = 'a');

}  // namespace quenbrook::faults
