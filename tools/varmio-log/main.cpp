// varmio-log: the monitor without a window. Feeds bytes to the monitor core and writes the record
// log and the raw log as the window would save them, printing each record line as it is logged.

#include "ByteSource.h"
#include "LogSession.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

namespace {

constexpr const char* kProgram = "varmio-log";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string& message, int code)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace varmio::logger;

    CLI::App app("Logs OpenTherm relay traffic without a window: the record log (CSV) and the raw frame "
                 "log, as the monitor keeps them.",
                 kProgram);
    std::string replay;
    LogOptions options;
    std::string timestamp;
    app.add_option("--replay", replay, "Feed every byte of FILE to the monitor, in order (\"-\": standard input)")
        ->option_text("FILE")
        ->required();
    app.add_option("--records", options.RecordsPath,
                   "Write the record log to FILE (Windows-1250, CR LF, header first), line by line")
        ->option_text("FILE");
    app.add_option("--raw", options.RawPath, "Write the raw frame log to FILE (Windows-1250, CR LF), line by line")
        ->option_text("FILE");
    app.add_flag("--all", options.All, "Log a record line for every frame, not only for changed records");
    app.add_option("--timestamp", timestamp, "Use TEXT as the date and time of every line instead of the clock")
        ->option_text("TEXT");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return Fail(std::string(e.what()) + " (see --help)", kExitUsage);
    }
    if (app.count("--timestamp") > 0) options.Timestamp = timestamp;

    try {
        // The input first, so that an unreadable one leaves existing output files alone.
        std::unique_ptr<ByteSource> source = std::make_unique<FileSource>(replay);
        LogSession session(options, varmio::Regional::FromEnvironment(), stdout);
        std::array<std::uint8_t, 64 * 1024> buffer;
        while (const std::size_t got = source->Read(buffer)) session.Feed(std::span(buffer.data(), got));
        session.Finish();
        if (const std::size_t unmappable = session.Unmappable(); unmappable > 0) {
            std::fprintf(stderr, "%s: %zu characters that Windows-1250 cannot hold were written as \"?\"\n",
                         kProgram, unmappable);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        return Fail(e.what(), kExitFailure);
    }
}
