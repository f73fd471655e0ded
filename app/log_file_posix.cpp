#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/log_file.h"

namespace {

std::string ErrorText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

class CPosixLogFile final : public ILogFile {
public:
    explicit CPosixLogFile(int fd) : m_fd(fd) {}
    // Closing also drops the lock.
    ~CPosixLogFile() override { close(m_fd); }

    CPosixLogFile(const CPosixLogFile&) = delete;
    CPosixLogFile& operator=(const CPosixLogFile&) = delete;

    void SeekToEnd() override {
        if (lseek(m_fd, 0, SEEK_END) < 0) {
            throw CLogFileError(ErrorText("log file seek"));
        }
    }

    void Write(const char* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t written = write(m_fd, data, size);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                throw CLogFileError(ErrorText("log file write"));
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
    }

    void Flush() override {
        if (fsync(m_fd) != 0 && errno != EINVAL) {  // EINVAL: a file that needs no sync
            throw CLogFileError(ErrorText("log file flush"));
        }
    }

private:
    int m_fd;
};

// A regular file of the effective user with one name only: a hard link planted in
// Documents can name a file elsewhere that only we may write.
bool IsOwnPlainFile(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1;
}

class CPosixLogFileSystem final : public ILogFileSystem {
public:
    std::optional<std::string> DocumentsFolder() override {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            return std::nullopt;
        }
        std::string folder = std::string(home) + "/Documents";
        struct stat info {};
        if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            return std::nullopt;  // never created here: no folder, no log
        }
        return folder;
    }

    std::string JoinPath(const std::string& folder, const std::string& fileName) override {
        return folder + "/" + fileName;
    }

    std::unique_ptr<ILogFile> OpenExclusive(const std::string& path) override {
        // Writing starts at the end after SeekToEnd, so neither O_TRUNC nor O_APPEND. A
        // program run with more rights than the owner of HOME must not write where a
        // link points, nor wait on a FIFO, nor keep a log others can read or lock.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) {
            return nullptr;
        }
        if (!IsOwnPlainFile(fd)) {
            close(fd);
            return nullptr;
        }
        const int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            close(fd);
            return nullptr;
        }
        // The lock stands in for "share with nobody": any program that locks the file
        // keeps us out, and we keep out every other updater while a run writes.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return nullptr;
        }
        return std::make_unique<CPosixLogFile>(fd);
    }
};

}  // namespace

ILogFileSystem& SystemLogFileSystem() {
    static CPosixLogFileSystem fileSystem;
    return fileSystem;
}
