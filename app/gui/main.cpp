// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor program: the application object and its one window.
//
// Without options it starts exactly as designed: port "COM12" preselected when the machine has it.
// Two options make it usable without the relay on COM12:
//   --port NAME  publishes NAME (a device under /dev, a path, or a network relay's socket://HOST:PORT
//                or rfc2217://HOST:PORT) in the port list and preselects it;
//   --demo       runs the built-in relay simulator inside the program, publishes its terminal as a
//                port and preselects it, so that one click on the LED shows live values.
// Two more show traffic without any port:
//   --replay FILE  takes a capture of relay packets as if it had just arrived;
//   --messages     opens the message window ("Zprávy") at start.
// And one shows a saved record log instead of the main window:
//   --chart FILE   opens the trends window ("Varmio – graf") over the log FILE.
// The command line is read before the application object exists, so that --help, --version and a
// bad option answer without a display (exit 0, 0 and 2).
#include "cport/NetPort.h"
#include "varmio/Application.h"
#include "varmio/DemoRelay.h"
#include "varmio/MainWindow.h"
#include "varmio/MonitorPort.h"
#include "varmio/TrendWindow.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void Print(std::FILE* stream, const QString& text) { std::fputs(text.toLocal8Bit().constData(), stream); }

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Shows and logs the OpenTherm traffic a relay sends to a serial port."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    options.addOption(help);
    const QCommandLineOption version = options.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Run the built-in relay simulator and preselect its port."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("List the port NAME and preselect it."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption replay(
        QStringLiteral("replay"), QStringLiteral("Show the relay packets of capture FILE as if they had just arrived."),
        QStringLiteral("FILE"));
    const QCommandLineOption messages(QStringLiteral("messages"), QStringLiteral("Open the message window at start."));
    options.addOption(demo);
    options.addOption(port);
    options.addOption(replay);
    const QCommandLineOption chart(
        QStringLiteral("chart"),
        QStringLiteral("Show the record log FILE (File > Save, varmio-log --records) as a chart."),
        QStringLiteral("FILE"));
    options.addOption(messages);
    options.addOption(chart);
    if (!options.parse(arguments)) {
        Print(stderr, QStringLiteral("varmio: %1\nTry 'varmio --help'.\n").arg(options.errorText()));
        return 2;
    }
    if (options.isSet(help)) {
        Print(stdout, options.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("varmio")));
        return 0;
    }
    if (options.isSet(version)) {
        Print(stdout, QStringLiteral("varmio %1\n").arg(QStringLiteral(VARMIO_VERSION)));
        return 0;
    }
    if (!options.positionalArguments().isEmpty()) {
        Print(stderr, QStringLiteral("varmio: unexpected argument '%1'\nTry 'varmio --help'.\n")
                          .arg(options.positionalArguments().front()));
        return 2;
    }
    if (options.isSet(chart) &&
        (options.isSet(demo) || options.isSet(port) || options.isSet(replay) || options.isSet(messages))) {
        std::fputs("varmio: --chart shows a saved log and takes no other option\n", stderr);
        return 2;
    }
    if (std::string problem; options.isSet(port) && cport::IsNetPortName(options.value(port).toStdString()) &&
                             !cport::ParseNetPortName(options.value(port).toStdString(), &problem)) {
        std::fprintf(stderr, "varmio: --port: %s\n", problem.c_str());
        return 2;
    }
    if (options.isSet(demo) && options.isSet(port)) {
        std::fputs("varmio: --demo and --port exclude each other\n", stderr);
        return 2;
    }

    // The ports this program provides are published before the window lists the ports.
    std::unique_ptr<varmio::PublishedPort> named;
    try {
        if (options.isSet(port)) named = std::make_unique<varmio::PublishedPort>(options.value(port).toStdString());
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "varmio: --port: %s\n", e.what());
        return 2;
    }

    varmio::TApplication application(argc, argv);
    if (options.isSet(chart)) {
        std::unique_ptr<varmio::TrendWindow> window;
        try {
            window = std::make_unique<varmio::TrendWindow>(options.value(chart), varmio::Regional::FromEnvironment());
        } catch (...) {
            varmio::ShowException(std::current_exception());
            return 1;
        }
        window->show();
        return varmio::TApplication::exec();
    }

    std::unique_ptr<varmio::DemoRelay> relay;
    try {
        if (options.isSet(demo)) relay = std::make_unique<varmio::DemoRelay>();
    } catch (...) {
        varmio::ShowException(std::current_exception());
        return 1;
    }

    std::vector<std::uint8_t> capture;
    if (options.isSet(replay)) {
        const std::string path = options.value(replay).toStdString();
        std::ifstream in(path, std::ios::binary);
        capture.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "varmio: cannot read the capture %s\n", path.c_str());
            return 1;
        }
    }

    varmio::TForm1 form;
    // A port of the command line or of the demo wins over the remembered one, and is not remembered.
    if (relay) form.PresetPort(relay->PortName());
    if (named) form.PresetPort(named->Name());
    if (relay || named) form.SetRemembersPort(false);
    else form.PresetRememberedPort();
    form.show();
    // In receive-sized batches, as the port would hand them over.
    for (std::size_t at = 0; at < capture.size(); at += varmio::TForm1::kReceiveBufferSize)
        form.ReceiveBytes(capture.data() + at, std::min(varmio::TForm1::kReceiveBufferSize, capture.size() - at));
    if (options.isSet(messages)) form.Zpravy1Click(nullptr);
    return varmio::TApplication::exec();
}
