#include "gui/app/Appearance.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QStyleFactory>
#include <QTranslator>

void applyAppearance(QApplication &app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font = app.font();
    font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(9);
    app.setFont(font);
    app.setWindowIcon(applicationIcon());
}

QIcon applicationIcon()
{
    QIcon builtIn;
    for (const int size : {48, 128, 256})
        builtIn.addFile(QStringLiteral(":/com.ulvaren.KelvaroHelper-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("com.ulvaren.KelvaroHelper"), builtIn);
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
