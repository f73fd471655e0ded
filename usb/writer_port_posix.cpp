#include "usb/writer_port_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

std::string WriterPortDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') {
        return std::string(runtime) + "/steno-writers";
    }
    return "/tmp/steno-writers-" + std::to_string(getuid());
}

namespace {

SPortCheck Absent(int error) {
    return SPortCheck{error != 0 ? error : ENOENT, {}};
}

SPortCheck Refused(int error, std::string reason) {
    return SPortCheck{error, std::move(reason)};
}

// "owned by uid 65534, not by uid 0": whose it is, beside the effective user.
std::string UidText(const char* relation, const char* preposition, uid_t uid) {
    return std::string(relation) + " uid " + std::to_string(uid) + ", not " + preposition + " uid " +
           std::to_string(geteuid());
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

}  // namespace

CPortDirectory::~CPortDirectory() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

SPortCheck CPortDirectory::Open(const std::string& path) {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        // O_NOFOLLOW with O_DIRECTORY answers ELOOP or ENOTDIR for a link, ENOTDIR for
        // anything else that is not a directory; the entry itself tells which.
        struct stat info {};
        if ((error == ELOOP || error == ENOTDIR) && lstat(path.c_str(), &info) == 0) {
            return S_ISLNK(info.st_mode) ? Refused(ELOOP, "is a symbolic link")
                                         : Refused(ENOTDIR, "is not a directory");
        }
        return Absent(error);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        close(fd);
        return Absent(error);
    }
    if (info.st_uid != geteuid()) {
        close(fd);
        return Refused(EPERM, UidText("owned by", "by", info.st_uid));
    }
    if ((info.st_mode & 077) != 0) {
        close(fd);
        return Refused(EACCES, "group or others have access (mode " + ModeText(info.st_mode) + ")");
    }
    m_fd = fd;
    return {};
}

SPortCheck CPortDirectory::FirstEntry(std::string& name) const {
    // fdopendir takes the descriptor it is given, so it gets its own copy.
    const int copy = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return Absent(errno);
    }
    DIR* dir = fdopendir(copy);
    if (dir == nullptr) {
        const int error = errno;
        close(copy);
        return Absent(error);
    }
    rewinddir(dir);  // the copy shares the position of any earlier listing
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (candidate == "." || candidate == "..") {
            continue;
        }
        // std::string compares as unsigned bytes, which is the order the port promises.
        if (!found || candidate < name) {
            name = candidate;
            found = true;
        }
    }
    closedir(dir);
    return found ? SPortCheck{} : Absent(ENOENT);
}

SPortCheck CPortDirectory::CheckOwnSocket(const std::string& name) const {
    struct stat info {};
    if (fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return Absent(errno);
    }
    if (!S_ISSOCK(info.st_mode)) {
        return Refused(ENOTSOCK, name + " is not a socket");
    }
    if (info.st_uid != geteuid()) {
        return Refused(EPERM, name + " is " + UidText("owned by", "by", info.st_uid));
    }
    return {};
}

SPortCheck CheckPeerIsOwnUser(int socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) {
        return Refused(EPERM, "the peer's user cannot be told");
    }
    if (peer.uid != geteuid()) {
        return Refused(EPERM, UidText("the peer runs as", "as", peer.uid));
    }
    return {};
}
