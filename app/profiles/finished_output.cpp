#include "app/profiles/finished_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/profiles/output_naming.h"

namespace clipwright {

namespace {

namespace fs = std::filesystem;

// Renames without replacing a file of the target's name: atomically where the file system
// can (rename with no-replace, else a hard link, which fails on a taken name as well); on one
// with neither (FAT) a check before the rename is the best there is.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
    if (link(from.c_str(), to.c_str()) == 0)
        return unlink(from.c_str());
    if (errno != EPERM && errno != ENOTSUP && errno != EXDEV)
        return -1;
    struct stat taken;
    if (lstat(to.c_str(), &taken) == 0) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from.c_str(), to.c_str());
}

} // namespace

std::string PartialFileName(const std::string& final_file) {
    const fs::path path(final_file);
    return (path.parent_path() / ("." + path.filename().string() + ".part")).string();
}

bool OutputInProgress(const std::string& final_file) {
    const int fd =
        open(PartialFileName(final_file).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

PartialOutput::PartialOutput(const std::string& final_file, const std::string& input,
                             bool overwrite)
    : final_file_(final_file), partial_(PartialFileName(final_file)), input_(input),
      overwrite_(overwrite) {
    // Not truncated here: the job's own open does that, and a file another conversion holds
    // must stay as it is.
    fd_ = open(partial_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd_ < 0) {
        error_ = "Could not create '" + partial_ + "': " + std::strerror(errno);
        return;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        close(fd_);
        fd_ = -1;
        error_ = "another conversion is writing '" + final_file_ + "'";
    }
}

PartialOutput::~PartialOutput() {
    if (fd_ < 0)
        return;
    // Only the file this object made: a failed job may have removed it already, and another
    // conversion may since have made one of the same name.
    struct stat held, named;
    if (!committed_ && fstat(fd_, &held) == 0 && lstat(partial_.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        unlink(partial_.c_str());
    close(fd_);
}

bool PartialOutput::Commit() {
    if (fd_ < 0)
        return false;
    const fs::path final_path(final_file_);
    std::string type = final_path.extension().string();
    type.erase(0, type.empty() ? 0 : 1);
    std::string target = final_file_;
    // A bound, in case other programs keep taking the names as fast as they are found.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if ((overwrite_ ? std::rename(partial_.c_str(), target.c_str())
                        : RenameNoReplace(partial_, target)) == 0) {
            final_file_ = target;
            committed_ = true;
            return true;
        }
        if (errno != EEXIST)
            break;
        target = OutputFileName(input_, final_path.parent_path().string(), type, false);
    }
    error_ = "Could not rename '" + partial_ + "' to '" + target + "': " + std::strerror(errno);
    return false;
}

} // namespace clipwright
