#include "gui/app/Appearance.h"

#include "gui/app/ProgramFont.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QLibraryInfo>
#include <QPixmap>
#include <QStyleFactory>
#include <QTranslator>

void applyAppearance(QApplication &app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setFont(programFont(app.font()));
    app.setWindowIcon(builtInIcon());
}

QPixmap bundledPicture(const QString &path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QIcon builtInIcon()
{
    // Decoded once, kept until the application object goes.
    static QIcon *builtIn = nullptr;
    if (!builtIn) {
        builtIn = new QIcon;
        for (const int size : {48, 128, 256})
            builtIn->addPixmap(bundledPicture(QStringLiteral(":/com.ulvaren.KelvaroHelper-%1.png").arg(size)));
        qAddPostRoutine([] {
            delete builtIn;
            builtIn = nullptr;
        });
    }
    return *builtIn;
}

QIcon applicationIcon()
{
    return QIcon::fromTheme(QStringLiteral("com.ulvaren.KelvaroHelper"), builtInIcon());
}

bool loadQtTranslations(QApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}
