// SPDX-License-Identifier: GPL-3.0-or-later
// cport_echo PORT: opens the serial port PORT (9600 8N1) and writes every line it receives back, until
// the line "quit" comes or the port goes away. Prints "ready" once the port is open.
#include <cport/CPort.h>

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: cport_echo PORT\n");
        return 2;
    }
    try {
        cport::TComPort port;
        port.SetPort(argv[1]);
        port.SetBaudRate(cport::br9600);
        port.SetEvents({}); // no event thread: this program reads and writes on its own thread
        // Reads wait for the first byte, then return what has come.
        cport::TComTimeouts& timeouts = port.Timeouts();
        timeouts.SetReadInterval(-1);
        timeouts.SetReadTotalMultiplier(-1);
        timeouts.SetReadTotalConstant(1000);
        timeouts.SetWriteTotalConstant(5000);
        port.OpenPort();
        std::printf("ready\n");
        std::fflush(stdout);

        std::string line;
        char buffer[256];
        for (;;) {
            const std::int32_t got = port.ReadData(buffer, sizeof buffer);
            for (std::int32_t i = 0; i < got; ++i) {
                line += buffer[i];
                if (buffer[i] != '\n') continue;
                if (line == "quit\n") return 0;
                port.WriteStr(line);
                line.clear();
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cport_echo: %s\n", error.what());
        return 1;
    }
}
