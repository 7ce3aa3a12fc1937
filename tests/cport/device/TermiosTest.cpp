// SPDX-License-Identifier: GPL-3.0-or-later
// DCB to termios, and the undoing of the kernel's error marks: pure logic, no device.

#include "posix/ParityMarks.h"
#include "posix/Termios.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace cport::device {
namespace {

DCB Line(DWORD rate)
{
    DCB dcb;
    dcb.BaudRate = rate;
    dcb.Flags = fBinary;
    dcb.ByteSize = 8;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    return dcb;
}

// A line as a terminal opens: cooked, echoing, translating.
termios Cooked()
{
    termios tio{};
    tio.c_iflag = ICRNL | IXON | ISTRIP | BRKINT | INLCR | IGNCR | IMAXBEL;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    tio.c_cflag = CS7 | PARENB | CREAD;
    cfsetospeed(&tio, B9600);
    cfsetispeed(&tio, B9600);
    return tio;
}

termios Composed(const DCB& dcb)
{
    termios tio = Cooked();
    EXPECT_EQ(ComposeTermios(dcb, tio), 0);
    return tio;
}

TEST(TermiosTest, MainWindowLineIsRawEightNoneOneAt19200)
{
    const termios tio = Composed(Line(19200));
    EXPECT_EQ(tio.c_iflag, static_cast<tcflag_t>(IGNBRK)) << "nothing may rewrite CR, XON, XOFF or 0xFF";
    EXPECT_EQ(tio.c_oflag, 0u);
    EXPECT_EQ(tio.c_lflag, 0u);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(tio.c_cflag & CLOCAL) << "modem lines must not hang the line up";
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B19200));
}

TEST(TermiosTest, DataBitsParityAndStopBitsMapToTheirFlags)
{
    struct Case {
        std::uint8_t byteSize, parity, stopBits;
        tcflag_t flags;
    };
    const Case cases[] = {
        {5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB},
        {6, ODDPARITY, ONESTOPBIT, CS6 | PARENB | PARODD},
        {7, EVENPARITY, TWOSTOPBITS, CS7 | PARENB | CSTOPB},
        {8, MARKPARITY, ONESTOPBIT, CS8 | PARENB | CMSPAR | PARODD},
        {8, SPACEPARITY, TWOSTOPBITS, CS8 | PARENB | CMSPAR | CSTOPB},
    };
    for (const Case& c : cases) {
        DCB dcb = Line(9600);
        dcb.ByteSize = c.byteSize;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stopBits;
        EXPECT_EQ(Composed(dcb).c_cflag & kDecidedCflags, c.flags)
            << int(c.byteSize) << "/" << int(c.parity) << "/" << int(c.stopBits);
    }
    DCB bad = Line(9600);
    bad.ByteSize = 4;
    termios tio = Cooked();
    EXPECT_EQ(ComposeTermios(bad, tio), EINVAL);
}

TEST(TermiosTest, FlowControlMapsToTheKernelsOwn)
{
    DCB hardware = Line(9600);
    hardware.Flags |= fOutxCtsFlow | (RTS_CONTROL_HANDSHAKE << fRtsControlShift);
    EXPECT_TRUE(Composed(hardware).c_cflag & CRTSCTS);

    DCB rtsOnly = Line(9600);
    rtsOnly.Flags |= RTS_CONTROL_HANDSHAKE << fRtsControlShift;
    EXPECT_TRUE(Composed(rtsOnly).c_cflag & CRTSCTS);

    DCB toggle = Line(9600);
    toggle.Flags |= RTS_CONTROL_TOGGLE << fRtsControlShift;
    EXPECT_FALSE(Composed(toggle).c_cflag & CRTSCTS);

    DCB software = Line(9600);
    software.Flags |= fOutX | fInX;
    software.XonChar = 0x21;
    software.XoffChar = 0x23;
    const termios tio = Composed(software);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(tio.c_cc[VSTART], 0x21);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x23);
}

TEST(TermiosTest, ErrorReplacementNeedsCheckingAndMarksOnlyForACharacterOtherThanNul)
{
    DCB replaceOnly = Line(9600);
    replaceOnly.Flags |= fErrorChar; // without fParity there is no checking to replace after
    replaceOnly.ErrorChar = '?';
    EXPECT_EQ(Composed(replaceOnly).c_iflag & (INPCK | PARMRK), 0u);

    DCB nul = Line(9600);
    nul.Flags |= fParity | fErrorChar;
    EXPECT_EQ(Composed(nul).c_iflag & (INPCK | PARMRK | IGNPAR), static_cast<tcflag_t>(INPCK));

    DCB mark = nul;
    mark.ErrorChar = '?';
    EXPECT_EQ(Composed(mark).c_iflag & (INPCK | PARMRK | IGNPAR), static_cast<tcflag_t>(INPCK | PARMRK));

    DCB checkOnly = Line(9600);
    checkOnly.Flags |= fParity; // errors are counted, bytes kept as they came
    EXPECT_EQ(Composed(checkOnly).c_iflag & (INPCK | PARMRK), 0u);
}

TEST(TermiosTest, StandardRatesHaveTheirConstantsAndOthersNeedTheCustomPath)
{
    EXPECT_EQ(StandardSpeed(110), static_cast<speed_t>(B110));
    EXPECT_EQ(StandardSpeed(115200), static_cast<speed_t>(B115200));
    EXPECT_EQ(StandardSpeed(4000000), static_cast<speed_t>(B4000000));
    for (DWORD custom : {14400u, 56000u, 128000u, 256000u, 1u}) EXPECT_EQ(StandardSpeed(custom), B0) << custom;

    // A custom rate leaves the speed bits as they were; the custom-rate path sets them afterwards.
    const termios tio = Composed(Line(56000));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
}

// ---- Error marks -----------------------------------------------------------------------------------

std::string Decode(ParityMarkDecoder& decoder, std::string marked, char errorChar = '?')
{
    std::vector<std::uint8_t> bytes(marked.begin(), marked.end());
    const std::size_t n = decoder.Decode(bytes.data(), bytes.size(), static_cast<std::uint8_t>(errorChar));
    return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(ParityMarkDecoderTest, UndoublesFFAndReplacesMarkedBytes)
{
    ParityMarkDecoder decoder;
    EXPECT_EQ(Decode(decoder, "plain"), "plain");
    EXPECT_EQ(Decode(decoder, std::string("a\xFF\xFF"
                                          "b",
                                          4)),
              std::string("a\xFF"
                          "b",
                          3));
    EXPECT_EQ(Decode(decoder, std::string("a\xFF\0x"
                                          "b",
                                          5)),
              "a?b");
    EXPECT_EQ(Decode(decoder, std::string("\xFF\0\xFF", 3), '!'), "!") << "a marked 0xFF is still replaced";
    EXPECT_EQ(Decode(decoder, std::string("\0\0", 2)), std::string("\0\0", 2)) << "unmarked NULs are data";
}

TEST(ParityMarkDecoderTest, MarksSplitAcrossReadsAreCarriedOver)
{
    ParityMarkDecoder decoder;
    EXPECT_EQ(Decode(decoder, "x\xFF"), "x");
    EXPECT_EQ(Decode(decoder, std::string("\xFF"
                                          "y",
                                          2)),
              std::string("\xFF"
                          "y",
                          2));
    EXPECT_EQ(Decode(decoder, "\xFF"), "");
    EXPECT_EQ(Decode(decoder, std::string("\0", 1)), "");
    EXPECT_EQ(Decode(decoder, "zw"), "?w");

    EXPECT_EQ(Decode(decoder, "\xFF"), "");
    decoder.Reset(); // a purge forgets a half-read mark
    EXPECT_EQ(Decode(decoder, "ok"), "ok");
}

} // namespace
} // namespace cport::device
