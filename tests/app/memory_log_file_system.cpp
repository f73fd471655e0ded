#include "tests/app/memory_log_file_system.h"

namespace {

// Appends at the position set by SeekToEnd; without it a write lands at the start.
class CMemoryLogFile final : public ILogFile {
public:
    CMemoryLogFile(CMemoryLogFileSystem& owner, std::string& contents)
        : m_owner(owner), m_contents(contents) {}
    ~CMemoryLogFile() override {
        m_owner.unflushed.clear();
        ++m_owner.closes;
    }

    void SeekToEnd() override {
        if (m_owner.failures.seek) {
            throw CLogFileError("seek failed");
        }
        m_position = m_contents.size();
    }
    void Write(const char* data, std::size_t size) override {
        const int number = ++m_owner.writes;
        if (m_owner.beforeWrite) {
            m_owner.beforeWrite(number);
        }
        if (m_owner.failures.write || (m_owner.failWritesFrom != 0 && number >= m_owner.failWritesFrom)) {
            throw CLogFileError("write failed");
        }
        m_contents.replace(m_position, size, data, size);
        m_position += size;
        m_owner.unflushed.append(data, size);
    }
    void Flush() override {
        if (m_owner.failures.flush) {
            throw CLogFileError("flush failed");
        }
        m_owner.unflushed.clear();
    }

private:
    CMemoryLogFileSystem& m_owner;
    std::string& m_contents;
    std::size_t m_position = 0;
};

}  // namespace

std::unique_ptr<ILogFile> CMemoryLogFileSystem::OpenExclusive(const std::string& path) {
    if (openFails) {
        return nullptr;
    }
    ++opens;
    return std::make_unique<CMemoryLogFile>(*this, files[path]);
}
