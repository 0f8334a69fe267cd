#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int AnswerCommandLine(int argc, char** argv, const QString& name, const QString& version, const QString& description)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.size() <= 1)
        return -1;
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(version);
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption showVersion = parser.addVersionOption();
    const bool parsed = parser.parse(arguments);
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString why = parsed ? QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first())
                                   : parser.errorText();
        std::fprintf(stderr, "%s: %s\nUsage: %s [--help] [--version]\n", qPrintable(name), qPrintable(why), qPrintable(name));
        return 2;
    }
    if (parser.isSet(showVersion) && !parser.isSet(help))
        std::printf("%s %s\n", qPrintable(name), qPrintable(version));
    else // --help, or Qt's own --help-all
        std::fputs(qPrintable(parser.helpText().replace(QLatin1String("<executable_name>"), name)), stdout);
    std::fflush(stdout);
    return 0;
}
