// GoogleTest entry point with a QApplication, for tests that need widgets,
// pixmaps or an event loop. The platform comes from QT_QPA_PLATFORM.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
