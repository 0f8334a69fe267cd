// GoogleTest entry point with a QApplication, for tests that need widgets,
// pixmaps or an event loop. The platform comes from QT_QPA_PLATFORM.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

extern char** environ;

namespace {

// A caller's proxy or station settings would steer GStreamer's source and
// the code under test: each test names what it wants.
void ForgetCallersSettings()
{
    QList<QByteArray> names;
    for (char** entry = environ; *entry; ++entry) {
        const QByteArray name = QByteArray(*entry).split('=').value(0);
        const QByteArray lower = name.toLower();
        // Where the sources and the built updater are: the suite's own inputs.
        if (name.startsWith("SONVALE_") && name != "SONVALE_SOURCE_DIR" && name != "SONVALE_UPDATER_PROGRAM")
            names << name;
        else if (lower == "http_proxy" || lower == "https_proxy" || lower == "all_proxy" || lower == "no_proxy")
            names << name;
    }
    for (const QByteArray& name : names)
        unsetenv(name.constData());
}

} // namespace

int main(int argc, char** argv)
{
    ForgetCallersSettings();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
