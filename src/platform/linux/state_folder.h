#pragma once
// Our state folder, shared by the parts of the Linux backend that keep files of their own
// (the game's log, a recovery copy of civ.ini).
#include <filesystem>

namespace quenbrook {

// $XDG_STATE_HOME/quenbrook, else ~/.local/state/quenbrook, made when missing. Empty when
// neither variable holds an absolute path (the XDG rule) or the folder cannot be made.
std::filesystem::path StateFolder();

}  // namespace quenbrook
