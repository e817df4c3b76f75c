// Servers started on the same new --db build it one at a time: each deleted the other's
// half-built file, and both failed with no database left.
#pragma once

#include <string>

namespace devserver::tsql {

// An exclusive lock (flock) on the file `building`, held while this process builds it. The file
// is created when missing and may be renamed into place while held: the lock goes with it.
class BuildLock {
public:
    // Waits for as long as another process holds the lock on the file now at `building`.
    // Throws std::runtime_error when the file cannot be created or locked.
    explicit BuildLock(std::string building);
    // Removes the file at `building` when it is still the locked one (a build that did not
    // happen or failed), then lets the next waiter in.
    ~BuildLock();
    BuildLock(const BuildLock&) = delete;
    BuildLock& operator=(const BuildLock&) = delete;

    // Empties the file: what a build killed half-way left is not kept.
    void truncate();

private:
    bool stillAtPath() const;
    std::string path_;
    int fd_ = -1;
};

}  // namespace devserver::tsql
