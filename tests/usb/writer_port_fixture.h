#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A private XDG_RUNTIME_DIR for one test, and small listeners in it that play the
// writer (or someone else's program) for the updater's transport.
class WriterPortFixture : public ::testing::Test {
protected:
    // The user the planted things are given to; root can chown to it and become it.
    static constexpr uid_t NOBODY = 65534;

    void SetUp() override;
    void TearDown() override;

    std::filesystem::path Root() const { return m_root; }
    std::filesystem::path PortDirectory() const { return m_root / "steno-writers"; }
    // Creates the port directory as the updater wants it: the user's, mode 0700.
    void MakePortDirectory();

    // Binds a SOCK_SEQPACKET socket at `path` and listens on it with `backlog`; the
    // fixture closes it.
    int ListenAt(const std::filesystem::path& path, int backlog = 1);
    // The same in the port directory, which is made first when missing.
    int Listen(const std::string& name, int backlog = 1);
    // Connects to `listener`'s socket until its queue is full, so the next connect
    // waits; false when it does not fill.
    bool FillListenQueue(const std::filesystem::path& path);
    // Binds at `path`, then has a child process that switched to NOBODY listen on it,
    // so the socket is the user's but the peer is not. False when this process cannot
    // switch users (the test should skip).
    bool ListenAsNobody(const std::filesystem::path& path);

    // True when no byte reached `listener`: nobody connected, or a connection that
    // carried nothing before it was closed.
    static bool NothingArrived(int listener);
    const std::vector<int>& Listeners() const { return m_listeners; }

private:
    std::filesystem::path m_root;
    std::optional<std::string> m_previousRuntime;
    std::vector<int> m_listeners;
    std::vector<int> m_others;  // connections the fixture holds open
    pid_t m_child = -1;
};
