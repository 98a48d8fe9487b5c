#include "web_root_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "release.hpp"

WebRootLock::WebRootLock(const std::filesystem::path& webRoot) : path_(webRoot / ".stage.lock") {
  // The file is removed when the lock is given up, so a lock taken on a file that another stage
  // has just removed is no lock: take it again on the file now at the path.
  for (;;) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) throw PublishError(path_.string() + ": cannot be created");
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const bool held = errno == EWOULDBLOCK;
      ::close(fd_);
      fd_ = -1;
      throw PublishError(held ? webRoot.string() +
                                    ": another merovast-publish stage is staging into this web root; try again "
                                    "once it has finished"
                              : path_.string() + ": cannot be locked");
    }
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd_, &opened) == 0 && ::stat(path_.c_str(), &named) == 0 && opened.st_ino == named.st_ino &&
        opened.st_dev == named.st_dev)
      return;
    ::close(fd_);
  }
}

WebRootLock::~WebRootLock() {
  ::unlink(path_.c_str());
  ::close(fd_);
}
