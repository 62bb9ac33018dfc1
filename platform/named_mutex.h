// Named mutexes shared by the processes of one user.
//
// A mutex is a lock file in the runtime folder. Each holder keeps a shared
// lock on it, so the mutex exists while any process holds it open, and a
// holder that dies (even killed) frees the name with its descriptors. The
// file may stay behind; the lock, not the file, is the mutex.
//
// The system uses these mutexes for presence ("is the transport loaded?",
// "is another copy running?"), so the object answers exactly that: whether
// the name already existed when it was created, and whether a name exists.
#pragma once

#include "result.h"
#include "unique_fd.h"

#include <functional>
#include <string>
#include <string_view>

namespace lumarc::platform {

class NamedMutex {
public:
    // Creates or opens the mutex. alreadyExisted() tells, without a race
    // against other creators, whether some holder had it open before.
    static Result<NamedMutex> create(std::string_view name);

    // As create, and runs setUp(alreadyExisted) while no other process can
    // create, test or release the name, so an object tied to the name can
    // be made or reset without a race. A failed setUp fails the creation.
    static Result<NamedMutex> create(std::string_view name,
                                     const std::function<Status(bool alreadyExisted)>& setUp);

    // Whether any process holds the named mutex open now.
    static bool exists(std::string_view name);

    NamedMutex(NamedMutex&&) noexcept = default;
    NamedMutex& operator=(NamedMutex&&) noexcept;
    ~NamedMutex();

    bool alreadyExisted() const { return m_alreadyExisted; }
    const std::string& name() const { return m_name; }

private:
    NamedMutex(std::string name, std::string path, UniqueFd fd, bool existed);
    void close();

    std::string m_name;
    std::string m_path; // the lock file, fixed at creation
    UniqueFd m_fd;
    bool m_alreadyExisted = false;
};

// The file-system-safe form of an object name: letters, digits, '.', '_'
// and '-' stay, every other byte becomes %XX.
std::string encodeObjectName(std::string_view name);

} // namespace lumarc::platform
