#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

// A private HOME in a fresh temporary directory, with or without its Documents folder;
// the previous HOME comes back afterwards.
class CTempHome {
public:
    explicit CTempHome(bool withDocuments = true) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-home-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        m_home = pattern;
        if (withDocuments) {
            std::filesystem::create_directory(Documents());
        }
        if (const char* previous = std::getenv("HOME")) {
            m_previous = previous;
        }
        setenv("HOME", m_home.c_str(), 1);
    }
    ~CTempHome() {
        if (m_previous) {
            setenv("HOME", m_previous->c_str(), 1);
        } else {
            unsetenv("HOME");
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_home, ignored);
    }
    CTempHome(const CTempHome&) = delete;
    CTempHome& operator=(const CTempHome&) = delete;

    std::filesystem::path Home() const { return m_home; }
    std::filesystem::path Documents() const { return m_home / "Documents"; }
    std::filesystem::path LogPath() const { return Documents() / "CVUpdate.log"; }

private:
    std::filesystem::path m_home;
    std::optional<std::string> m_previous;
};

// The whole contents of a file; empty when it does not exist.
std::string ReadWholeFile(const std::filesystem::path& path);
