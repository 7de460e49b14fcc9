#include "app/Appearance.h"
#include "app/Form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kelvaro-helper"));
    applyAppearance(app);

    Form1 window;
    window.show();
    return QApplication::exec();
}
