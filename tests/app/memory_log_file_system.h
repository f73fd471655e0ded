#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/log_file.h"

// A log file system in memory: files are strings, and each operation can be made to
// fail, to show what the log does with a failing file.
class CMemoryLogFileSystem final : public ILogFileSystem {
public:
    struct SFailures {
        bool seek = false;
        bool write = false;
        bool flush = false;
    };

    std::optional<std::string> DocumentsFolder() override { return documents; }
    std::string JoinPath(const std::string& folder, const std::string& fileName) override {
        return folder + "/" + fileName;
    }
    std::unique_ptr<ILogFile> OpenExclusive(const std::string& path) override;

    std::optional<std::string> documents = std::string("/home/user/Documents");
    bool openFails = false;
    SFailures failures;
    // Nonzero: the write with this number (counted from 1 over every file) fails, and
    // every write after it, as on a disk that has filled up.
    int failWritesFrom = 0;
    int writes = 0;
    // Called before each write, with its number.
    std::function<void(int)> beforeWrite;
    std::map<std::string, std::string> files;
    int opens = 0;
    int closes = 0;
    // Bytes written but not yet flushed or closed, of the open file.
    std::string unflushed;
};
