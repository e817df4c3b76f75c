#include "build_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace devserver::tsql {

BuildLock::BuildLock(std::string building) : path_(std::move(building)) {
    // The holder may rename the file into place or remove it before a waiter gets the lock; the
    // waiter then holds a lock on a file no longer at the path and starts over.
    for (;;) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) throw std::runtime_error("cannot create " + path_ + ": " + std::strerror(errno));
        int rc;
        while ((rc = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {}
        if (rc != 0) {
            const int saved = errno;
            ::close(fd_);
            throw std::runtime_error("cannot lock " + path_ + ": " + std::strerror(saved));
        }
        if (stillAtPath()) return;
        ::close(fd_);
    }
}

BuildLock::~BuildLock() {
    if (stillAtPath()) ::unlink(path_.c_str());
    ::close(fd_);
}

void BuildLock::truncate() {
    if (::ftruncate(fd_, 0) != 0) throw std::runtime_error("cannot empty " + path_ + ": " + std::strerror(errno));
}

bool BuildLock::stillAtPath() const {
    struct stat held {
    }, named{};
    return ::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

}  // namespace devserver::tsql
