#include "gui/app/Appearance.h"

#include "gui/app/ProgramFont.h"

#include <QApplication>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QLibraryInfo>
#include <QPixmap>
#include <QStyleFactory>
#include <QTranslator>

#include <condition_variable>
#include <mutex>
#include <thread>

void applyAppearance(QApplication &app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setFont(programFont(app.font()));
}

namespace {

QImage readPng(const QString &path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// The pictures decoded ahead on their own thread, and those still to come.
struct Preload {
    std::mutex mutex;
    std::condition_variable decoded;
    QStringList pending;
    QHash<QString, QImage> images;
    std::thread worker;
};
Preload *preload = nullptr;

} // namespace

void preloadBundledPictures(const QStringList &paths)
{
    if (preload)
        return;
    preload = new Preload;
    preload->pending = paths;
    preload->worker = std::thread([ahead = preload, paths] {
        for (const QString &path : paths) {
            QImage image = readPng(path);
            const std::lock_guard lock(ahead->mutex);
            ahead->images.insert(path, std::move(image));
            ahead->pending.removeOne(path);
            ahead->decoded.notify_all();
        }
    });
    qAddPostRoutine([] {
        preload->worker.join();
        delete preload;
        preload = nullptr;
    });
}

QPixmap bundledPicture(const QString &path)
{
    if (preload) {
        std::unique_lock lock(preload->mutex);
        preload->decoded.wait(lock, [&] { return !preload->pending.contains(path); });
        if (const auto ahead = preload->images.constFind(path); ahead != preload->images.cend()) {
            const QImage image = *ahead;
            preload->images.erase(ahead);
            lock.unlock();
            return QPixmap::fromImage(image);
        }
    }
    return QPixmap::fromImage(readPng(path));
}

QStringList builtInIconFiles()
{
    QStringList files;
    for (const int size : {48, 128, 256})
        files << QStringLiteral(":/com.ulvaren.KelvaroHelper-%1.png").arg(size);
    return files;
}

QIcon builtInIcon()
{
    // Decoded once, kept until the application object goes.
    static QIcon *builtIn = nullptr;
    if (!builtIn) {
        builtIn = new QIcon;
        for (const QString &file : builtInIconFiles())
            builtIn->addPixmap(bundledPicture(file));
        qAddPostRoutine([] {
            delete builtIn;
            builtIn = nullptr;
        });
    }
    return *builtIn;
}

QIcon startIcon()
{
    static QIcon *start = nullptr;
    if (!start) {
        start = new QIcon;
        const QIcon full = builtInIcon();
        for (const QSize &size : full.availableSizes()) {
            if (size.width() <= 128)
                start->addPixmap(full.pixmap(size));
        }
        qAddPostRoutine([] {
            delete start;
            start = nullptr;
        });
    }
    return *start;
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
