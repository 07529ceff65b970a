#pragma once
// A failure is a value with a reason a person can read; success carries none.
#include <string>
#include <utility>

namespace quenbrook {

class Status {
public:
    static Status Ok() { return Status(); }
    static Status Fail(std::wstring reason) { return Status(std::move(reason)); }
    // A failure that only a run with administrator rights could avoid (on Windows, a
    // game that runs as administrator keeps its civ.ini where only such a run may write).
    static Status NeedsAdministrator(std::wstring reason) {
        Status s(std::move(reason));
        s.needsAdministrator_ = true;
        return s;
    }

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    // Empty on success; otherwise a sentence fragment such as "the file is read-only".
    const std::wstring& reason() const { return reason_; }
    bool needsAdministrator() const { return needsAdministrator_; }

private:
    Status() = default;
    explicit Status(std::wstring reason) : ok_(false), reason_(std::move(reason)) {}
    bool ok_ = true;
    bool needsAdministrator_ = false;
    std::wstring reason_;
};

}  // namespace quenbrook
