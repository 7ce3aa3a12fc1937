// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The relay's end of a pseudo-terminal pair: the device that programs open as their serial port is the
// other end (its path is DevicePath()), set to raw 8N1 at 19200 baud so that no byte is rewritten.
//
// Who has the device open. The simulator keeps a descriptor of its own on the device for the whole
// run (so that it can always see the device's input queue, even after a reader has taken the device
// for itself with TIOCEXCL) and counts the opens and closes of everybody else through an inotify watch
// on the device node: the kernel reports each open and each close to the watch, so waiting for a
// reader costs nothing and needs no polling. (Polling the master for POLLHUP would need the
// simulator's own descriptor closed, and a device taken exclusively could then not be reopened to
// look at its queue.) When the last reader closes, the device's exclusive mode is cleared, as the last
// close of a real serial port does, so that the next reader can open it.
//
// Used by one thread at a time; the constructor and destructor only while no other thread uses it.

#include "varmio/relaysim/RelayLine.h"

#include <cstdint>
#include <span>
#include <string>

namespace varmio::relaysim {

class PseudoTerminal final : public RelayLine {
public:
    // Throws std::system_error when the pair cannot be made or watched.
    PseudoTerminal();
    // Closes the pair (readers see the device hang up) and removes the link made by MakeLink if it
    // still points to this device.
    ~PseudoTerminal() override;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The device's path, /dev/pts/N.
    const std::string& DevicePath() const override { return m_devicePath; }

    // Makes `linkPath` a symbolic link to the device. Anything already there is left alone and the call
    // throws std::system_error (EEXIST); with `replace`, an existing symbolic link (a link another
    // simulator made, say) is replaced, but a file or folder never.
    void MakeLink(const std::string& linkPath, bool replace = false);
    const std::string& LinkPath() const { return m_linkPath; }

    // Descriptors to wait on: the master (writable) and the watch (readable when there are notices).
    int MasterFd() const { return m_master; }
    int WatchFd() const override { return m_watch; }
    int WriteFd() const override { return m_master; }

    // Takes in all pending notices about the device: opens, closes and, while NoticeReads is on,
    // reads. Never blocks.
    void TakeNotices() override;
    // Programs that have the device open now (counted from the notices taken so far).
    int Readers() const override { return m_readers; }
    // Whether a reader's every read also raises a notice (to follow a reader emptying the queue).
    void NoticeReads(bool on) override;

    // Writes what the device can take now, without blocking; returns the count written (0 when the
    // device's buffers are full). Throws std::system_error on failure.
    std::size_t Write(std::span<const std::uint8_t> bytes) override;
    // True when no byte written is still waiting to be read on the device side.
    bool InputQueueEmpty() const override;

private:
    void Watch(std::uint32_t mask);

    int m_master = -1;
    int m_keeper = -1; // our own descriptor on the device
    int m_watch = -1;
    std::string m_devicePath;
    std::string m_linkPath;
    int m_readers = 0;
};

} // namespace varmio::relaysim
