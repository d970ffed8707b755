#include "CommandLine.h"

#ifdef Q_OS_WIN
#define TARNIVO_CONFIG_DEFAULT "%ProgramData%\\Tarnivo\\tarnivo.ini"
#define TARNIVO_STATE_DEFAULT "%ProgramData%\\Tarnivo"
#else
#define TARNIVO_CONFIG_DEFAULT "/etc/tarnivo/tarnivo.ini"
#define TARNIVO_STATE_DEFAULT "$STATE_DIRECTORY, else ~/.local/state/tarnivo"
#endif

namespace {

// A value option's reader: takes the text and returns the reason it is refused ("" when taken).
using Reader = QString (*)(CommandLine &, const QString &);

struct Option {
    const char *name;
    const char *value; // the value's name in --help; null for a switch
    bool CommandLine::*flag;
    Reader reader;
    const char *help;
};

QString readPort(CommandLine &options, const QString &text) {
    bool number = false;
    const uint port = text.toUInt(&number, 10);
    if (!number || port < 1 || port > 65535)
        return QStringLiteral("--port takes a number from 1 to 65535, not \"%1\"").arg(text);
    options.intPort = quint16(port);
    return {};
}

// A value that names a file or a folder.
template <QString CommandLine::*field>
QString readPath(CommandLine &options, const QString &text, const char *name, const char *what) {
    if (text.isEmpty())
        return QStringLiteral("%1 takes %2, not an empty text")
            .arg(QLatin1String(name), QLatin1String(what));
    options.*field = text;
    return {};
}

QString readContent(CommandLine &options, const QString &text) {
    return readPath<&CommandLine::strContent>(options, text, "--content", "a directory");
}

QString readConfig(CommandLine &options, const QString &text) {
    return readPath<&CommandLine::strConfig>(options, text, "--config", "a file");
}

QString readState(CommandLine &options, const QString &text) {
    return readPath<&CommandLine::strState>(options, text, "--state", "a directory");
}

QString readAllowed(CommandLine &options, const QString &text) {
    return readPath<&CommandLine::strAllowed>(options, text, "--allowed", "addresses");
}

const Option options[] = {
    {"--port", "N", nullptr, readPort,
     "web server port, 1 to 65535 (default: web/port of the settings file, else the port of "
     "the last Start, else 80; with --headless 8080)"},
    {"--start", nullptr, &CommandLine::boolStart, nullptr,
     "start the server when the window opens"},
    {"--headless", nullptr, &CommandLine::boolHeadless, nullptr,
     "no window: serve until Ctrl+C, SIGTERM or a service stop"},
    {"--content", "DIR", nullptr, readContent,
     "web root (default: the directory content beside the program)"},
    {"--config", "FILE", nullptr, readConfig,
     "the machine-wide settings file (default: " TARNIVO_CONFIG_DEFAULT ")"},
    {"--state", "DIR", nullptr, readState,
     "where the history is kept across restarts (default: " TARNIVO_STATE_DEFAULT ")"},
    {"--install-service", nullptr, &CommandLine::boolInstallService, nullptr,
     "Windows: register the service Tarnivo (headless) and firewall rules; its port is --port, "
     "kept in the machine-wide settings file, else the file's web/port, else 8080; --config "
     "FILE is copied to that file when there is none; with --start also start it"},
    {"--allowed", "LIST", nullptr, readAllowed,
     "Windows, with --install-service: keep LIST (addresses and ranges, separated by commas) "
     "as web/allowedAddresses in the machine-wide settings file"},
    {"--uninstall-service", nullptr, &CommandLine::boolUninstallService, nullptr,
     "Windows: remove the service and its firewall rules"},
    {"--version", nullptr, &CommandLine::boolVersion, nullptr, "print the version and end"},
    {"--help", nullptr, &CommandLine::boolHelp, nullptr, "print this list and end"},
};

const Option *find(const QString &name) {
    for (const Option &option : options)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments) {
    CommandLine result;
    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        QString value;
        bool inlineValue = false;
        // "--port=8080" as well as "--port 8080".
        const int equals = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
            inlineValue = true;
        }
        const Option *option = find(name);
        if (!option) {
            result.strError =
                name.startsWith(QLatin1Char('-'))
                    ? QStringLiteral("unknown option %1 (--help lists them)").arg(name)
                    : QStringLiteral("unexpected argument \"%1\"").arg(name);
            return result;
        }
        if (!option->value) {
            if (inlineValue) {
                result.strError = QStringLiteral("%1 takes no value").arg(name);
                return result;
            }
            result.*(option->flag) = true;
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= arguments.size()) {
                result.strError =
                    QStringLiteral("%1 needs a value: %1 %2").arg(name, option->value);
                return result;
            }
            value = arguments.at(++i);
        }
        result.strError = option->reader(result, value);
        if (!result.strError.isEmpty())
            return result;
    }
    if (result.boolInstallService && result.boolUninstallService)
        result.strError =
            QStringLiteral("--install-service and --uninstall-service exclude each other");
    return result;
}

QString CommandLine::help() {
    QString text = QStringLiteral("Usage: tarnivo [options]\n\nOptions:\n");
    for (const Option &option : options) {
        QString name = QLatin1String(option.name);
        if (option.value)
            name += QLatin1Char(' ') + QLatin1String(option.value);
        text += QStringLiteral("  %1  %2\n").arg(name, -21).arg(QLatin1String(option.help));
    }
    // Read before the options, by the entry point: it needs neither window nor server.
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("--report [FILE]"), -21)
                .arg(QStringLiteral("alone: write what the system layer finds to FILE (or standard "
                                    "output) and end"));
    return text;
}
