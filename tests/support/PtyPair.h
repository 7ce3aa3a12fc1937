// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A pseudo-terminal pair: the code under test opens the slave by its path as a serial port; the test
// holds the master, the far end of the line. The master also reports the line settings the slave was
// given.

#include <cstddef>
#include <string>
#include <string_view>

#include <termios.h>

namespace varmio::test {

class PtyPair {
public:
    PtyPair(); // throws std::runtime_error when the system gives no pseudo-terminal
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return m_slave; }
    int Master() const { return m_master; }
    // Hangs up the line, as a device that goes away does.
    void CloseMaster();

    // Writes all of `bytes`, waiting for room while the line is full; false once the master fails.
    bool Write(std::string_view bytes) const;
    bool Write(const void* data, std::size_t size) const;

    // The slave's line settings and output speed, as the master reports them.
    termios LineSettings() const;
    speed_t LineSpeed() const;

private:
    int m_master = -1;
    std::string m_slave;
};

} // namespace varmio::test
