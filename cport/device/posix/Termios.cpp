// SPDX-License-Identifier: GPL-3.0-or-later
#include "posix/Termios.h"

#include <cerrno>
#include <iterator>

namespace cport::device {

namespace {

struct RateSpeed {
    DWORD rate;
    speed_t speed;
};

constexpr RateSpeed kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

} // namespace

speed_t StandardSpeed(DWORD rate)
{
    for (const RateSpeed& r : kStandardRates) {
        if (r.rate == rate) return r.speed;
    }
    return B0;
}

void MakeRaw(termios& tio)
{
    tio.c_iflag = IGNBRK; // a break is seen in the line counters, never as a NUL byte in the data
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = (tio.c_cflag & (CBAUD | CBAUDEX | CIBAUD)) | CS8 | CREAD | CLOCAL | HUPCL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

int ComposeTermios(const DCB& dcb, termios& tio)
{
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) {
        return EINVAL;
    }
    MakeRaw(tio);
    tcflag_t cflag = tio.c_cflag & ~(kDecidedCflags);
    cflag |= kSizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
    case ODDPARITY: cflag |= PARENB | PARODD; break;
    case EVENPARITY: cflag |= PARENB; break;
    case MARKPARITY: cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    // Two stop bits on a 5-bit line is what a UART sends as one and a half.
    if (dcb.StopBits != ONESTOPBIT) cflag |= CSTOPB;
    // The kernel ties CTS output flow and RTS input flow together; either asks for both.
    if ((dcb.Flags & fOutxCtsFlow) || dcb.RtsControl() == RTS_CONTROL_HANDSHAKE) cflag |= CRTSCTS;
    tio.c_cflag = cflag;

    if (dcb.Flags & fOutX) tio.c_iflag |= IXON;
    if (dcb.Flags & fInX) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    // Replacing bytes received in error: the kernel itself puts NUL in their place; any other
    // character needs the bytes marked so that the reader can put it there.
    if ((dcb.Flags & fParity) && (dcb.Flags & fErrorChar)) {
        tio.c_iflag |= INPCK;
        if (dcb.ErrorChar != 0) tio.c_iflag |= PARMRK;
    }

    if (const speed_t speed = StandardSpeed(dcb.BaudRate); speed != B0) {
        cfsetospeed(&tio, speed);
        cfsetispeed(&tio, speed);
    }
    return 0;
}

} // namespace cport::device
