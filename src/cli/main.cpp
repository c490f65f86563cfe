// qarsilo-cli: the program's core over capture files and devices, for scripts
// and tests. Output formats are stable interfaces.

#include "cli/cli_commands.h"
#include "core/capture/capture_session.h"
#include "core/capture/native_path.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const QStringList&);
};

constexpr Command kCommands[] = {
    {"devices", "devices                       list the capture devices", runDevices},
    {"list",
     "list SOURCE [--filter EXPR] [--count N]\n"
     "                                one line per frame of a capture file or device",
     runList},
    {"decode", "decode SOURCE N               frame N's decode tree and hex dump", runDecode},
    {"chart",
     "chart VIEW SOURCE [--cumulative] [--pie] [--png DIR]\n"
     "                                a chart window's rows for each second of a capture file",
     runChart},
    {"book",
     "book export [--csv] [--db FILE|URL] | book copy FROM TO\n"
     "                                the address book's nodes, tab-separated or as CSV;\n"
     "                                a book copied between a file and a postgresql:// URL",
     runBook},
    {"trace",
     "trace SOURCE --node MAC [--layer 0|1|2] [--node-life S]\n"
     "                                the trace's side nodes after each second of a capture file",
     runTrace},
    {"stats",
     "stats SOURCE [--node MAC] [--top K] [--link-speed BPS]\n"
     "                                the statistics views' figures for each second",
     runStats},
    {"discover",
     "discover SOURCE --mode netbios|ip [--ranges R1,R2,...]\n"
     "                                the nodes, workgroups and subnets autodiscovery finds",
     runDiscover},
    {"conversations",
     "conversations SOURCE --type eth|ip|ipv6|tcp|udp [--max-rows N]\n"
     "                                frames and bytes each way between two addresses",
     runConversations},
    {"endpoints",
     "endpoints SOURCE --type eth|ip|ipv6|tcp|udp [--max-rows N]\n"
     "                                frames and bytes each address sent and received",
     runEndpoints},
};

void usage(FILE* out) {
    std::fprintf(out, "usage: qarsilo-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %s\n", c.usage);
}

} // namespace

QStringList commandArguments(int argc, char* argv[], int first) {
    // File names are bytes: arguments keep the ones that are not UTF-8, so
    // that such a file can still be opened.
    QStringList args;
    for (int i = first; i < argc; ++i)
        args << qarsilo::fileNameFromNative(QByteArray(argv[i]));
    return args;
}

namespace {
int g_outputErrno = 0;
} // namespace

void rememberOutputError() {
    if (g_outputErrno == 0)
        g_outputErrno = errno;
}

int finishOutput(const char* command, int code) {
    // Output that did not reach its file is a failure, whatever the command thought.
    errno = 0;
    if (std::fflush(stdout) != 0)
        rememberOutputError();
    if (!std::ferror(stdout) && g_outputErrno == 0)
        return code;
    std::fprintf(stderr, "qarsilo-cli %s: cannot write the output: %s\n", command,
                 g_outputErrno ? std::strerror(g_outputErrno) : "write error");
    return code != 0 ? code : 1;
}

namespace {
// A capture thread that cannot be ended is a failure of the command.
[[noreturn]] void fatalExit(int) {
    std::fflush(nullptr);
    std::_Exit(1);
}
} // namespace

int main(int argc, char* argv[]) {
    qarsilo::CaptureSession::setFatalExit(&fatalExit);
    if (argc > 1 && std::strcmp(argv[1], "chart") == 0) // draws: needs a GUI application object
        return finishOutput("chart", chartMain(argc, argv));
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("qarsilo"));
    QCoreApplication::setApplicationName(QStringLiteral("qarsilo"));
    QStringList args = commandArguments(argc, argv, 1);
    if (args.isEmpty()) {
        usage(stderr);
        return 2;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
        usage(stdout);
        return finishOutput("--help", 0);
    }
    for (const Command& c : kCommands)
        if (name == QLatin1String(c.name))
            return finishOutput(c.name, c.run(args));
    std::fprintf(stderr, "qarsilo-cli: unknown command '%s'\n\n", qPrintable(name));
    usage(stderr);
    return 2;
}
