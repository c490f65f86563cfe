// qarsilo-cli: the program's core over capture files and devices, for scripts
// and tests. Output formats are stable interfaces.

#include "cli/cli_commands.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const QStringList&);
};

constexpr Command kCommands[] = {
    {"devices", "devices                       list the capture devices", runDevices},
    {"list", "list SOURCE [--filter EXPR] [--count N]\n"
             "                                one line per frame of a capture file or device",
     runList},
    {"decode", "decode SOURCE N               frame N's decode tree and hex dump", runDecode},
    {"chart", "chart VIEW SOURCE [--cumulative] [--pie] [--png DIR]\n"
              "                                a chart window's rows for each second of a capture file",
     runChart},
    {"discover",
     "discover SOURCE --mode netbios|ip [--ranges R1,R2,...]\n"
     "                                the nodes, workgroups and subnets autodiscovery finds",
     runDiscover},
};

void usage(FILE* out)
{
    std::fprintf(out, "usage: qarsilo-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %s\n", c.usage);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "chart") == 0) // draws: needs a GUI application object
        return chartMain(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("qarsilo"));
    QCoreApplication::setApplicationName(QStringLiteral("qarsilo"));
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        usage(stderr);
        return 2;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
        usage(stdout);
        return 0;
    }
    for (const Command& c : kCommands)
        if (name == QLatin1String(c.name))
            return c.run(args);
    std::fprintf(stderr, "qarsilo-cli: unknown command '%s'\n\n", qPrintable(name));
    usage(stderr);
    return 2;
}
