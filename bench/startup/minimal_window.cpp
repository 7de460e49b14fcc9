// The yardstick for start-up: the least a Qt Widgets program does to show a
// frameless window of the main window's size.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setFixedSize(1063, 575);
    window.show();
    return QApplication::exec();
}
