// The floor under the player's start-up: a bare Qt Widgets window with one
// line of text, titled as the player's, and nothing else. What the player
// holds beyond this and beyond GStreamer's own playbin is its own to cut.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Ready"));
    label.setWindowTitle(QStringLiteral("Radio Velmora Player"));
    label.resize(380, 72);
    label.show();
    return app.exec();
}
