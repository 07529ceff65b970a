#pragma once
// Which file is civ.ini for the game. The game is a 32-bit program without a manifest,
// so on Vista and later Windows redirects its writes to the Windows folder into the
// player's VirtualStore, and once a copy is there the game reads and writes only that
// copy. We are not redirected (asInvoker), so we make the same choice ourselves.
// A game that runs elevated ("Run this program as an administrator") or carries a
// manifest with an execution level is never redirected: it uses the original.
// Standard library only: the facts are gathered by the backend and passed in.
#include <optional>
#include <string>

namespace quenbrook {

// What happens when the original is opened for writing.
enum class WriteAccess {
    Allowed,   // it can be written (or, when missing, created)
    ReadOnly,  // the read-only attribute: the player's lock, which must keep refusing
    Denied,    // access denied: the account lacks the rights
};

struct CivIniFacts {
    std::wstring original;  // the game's path, e.g. C:\Windows\civ.ini
    bool vistaOrLater = false;
    std::optional<unsigned long> enableLua;              // missing means on
    std::optional<unsigned long> enableVirtualization;   // missing means on
    std::wstring localAppData;                           // empty when unknown
    bool copyExists = false;
    WriteAccess access = WriteAccess::Allowed;
    // The game's compatibility layers (HKCU's and HKLM's strings, blank-separated) and
    // its manifest's text; both empty when there are none.
    std::wstring layers;
    std::string manifest;
};

struct CivIniChoice {
    std::wstring file;        // the file every operation uses
    bool createCopy = false;  // make it from the original's bytes before the first write
    // The game runs elevated and this account may not write its file: only a run with
    // administrator rights can change it, and nothing else is to be written.
    bool needsAdministrator = false;
    bool operator==(const CivIniChoice&) const = default;
};

// Whether Windows redirects a legacy 32-bit program's writes to protected folders.
bool VirtualizationApplies(bool vistaOrLater, std::optional<unsigned long> enableLua,
                           std::optional<unsigned long> enableVirtualization);

// Where Windows keeps the redirected copy of original: the path without its drive,
// under localAppData\VirtualStore. Empty when either is unusable.
std::wstring VirtualStorePath(const std::wstring& original, const std::wstring& localAppData);

// Whether a layer string ("~ RUNASADMIN HIGHDPIAWARE") holds RUNASADMIN as a word.
bool LayersRunAsAdministrator(const std::wstring& layers);

// The level of the manifest's requestedExecutionLevel ("asInvoker", ...); nothing when
// the manifest asks for none.
std::optional<std::string> RequestedExecutionLevel(const std::string& manifest);

CivIniChoice ChooseCivIni(const CivIniFacts& facts);

}  // namespace quenbrook
