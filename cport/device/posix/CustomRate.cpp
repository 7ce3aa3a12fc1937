// SPDX-License-Identifier: GPL-3.0-or-later
#include "posix/CustomRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace cport::device {

int SetCustomRate(int fd, std::uint32_t rate)
{
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
    // BOTHER in both speed fields: the rate is taken from c_ospeed / c_ispeed as a plain number.
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = rate;
    tio.c_ispeed = rate;
    return ::ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

int ReadLineRate(int fd, std::uint32_t& rate)
{
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
    rate = tio.c_ospeed;
    return 0;
}

} // namespace cport::device
