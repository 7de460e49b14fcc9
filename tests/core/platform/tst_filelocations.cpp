// Where the program keeps its files (beside itself, or in the user's folders
// when installed) and what it remembers of its user between runs.
#include "common/TestEnvironment.h"
#include "core/platform/FileLocations.h"
#include "core/platform/UserSettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class FileLocationsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;

    QString make(const QString &relative, bool file = false)
    {
        const QString path = m_root.filePath(relative);
        if (!file)
            QDir().mkpath(path);
        else {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile out(path);
            out.open(QIODevice::WriteOnly);
        }
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // The user's folders, as the desktop names them.
        qputenv("HOME", m_root.filePath("home").toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_root.filePath("home/data").toLocal8Bit());
        make("home/config");
        qputenv("XDG_CONFIG_HOME", m_root.filePath("home/config").toLocal8Bit());
        QFile dirs(m_root.filePath("home/config/user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_MUSIC_DIR=\"$HOME/音乐\"\n");
    }

    void folders_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<bool>("portable");
        QTest::addColumn<QString>("skin");
        QTest::addColumn<QString>("music");
        QTest::addColumn<QString>("videoFolder");
        // The build tree and a copy carried around: everything beside the program.
        QTest::newRow("build tree") << "tree" << true << "tree/skinh.she" << "tree/Music" << "tree";
        // A writable folder without a skin stays portable; the skin is simply missing.
        QTest::newRow("portable, no skin") << "bare" << true << "bare/skinh.she" << "bare/Music" << "bare";
        // Installed under a prefix: shared files from share/, the user's files in
        // the user's folders, even where the folder could be written (root).
        QTest::newRow("installed") << "prefix/bin" << false << "prefix/share/kelvaro-helper/skinh.she"
                                   << "home/音乐/Kelvaro" << "home/data/kelvaro-helper";
    }
    void folders()
    {
        QFETCH(QString, layout);
        QFETCH(bool, portable);
        QFETCH(QString, skin);
        QFETCH(QString, music);
        QFETCH(QString, videoFolder);
        make("tree/skinh.she", true);
        make("bare");
        make("prefix/bin");
        make("prefix/share/kelvaro-helper/skinh.she", true);

        const FileLocations where = FileLocations::forProgramFolder(m_root.filePath(layout));
        QCOMPARE(where.portable, portable);
        QCOMPARE(where.skinFile, m_root.filePath(skin));
        QCOMPARE(where.musicFolder, m_root.filePath(music));
        QCOMPARE(where.videoPageFolder, m_root.filePath(videoFolder));
        if (portable) {
            QCOMPARE(where.downloadExplanation(),
                     QStringLiteral("默认路径：当前程序文件目录下“Music”文件夹中( 音乐名称自动填写 )"));
            QCOMPARE(where.videoPageNote(), QString());
        } else {
            QCOMPARE(where.downloadExplanation(),
                     "默认路径：“" + m_root.filePath(music) + "”文件夹中( 音乐名称自动填写 )");
            QCOMPARE(where.videoPageNote(), "已在“" + m_root.filePath(videoFolder) + "”下生成名为“video.htm”");
        }
    }

    void volumeIsKeptWithinTheSlider_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("volume");
        QTest::newRow("never set") << QVariant() << 1000;
        QTest::newRow("kept") << QVariant(420) << 420;
        QTest::newRow("silent") << QVariant(0) << 0;
        QTest::newRow("too loud") << QVariant(5000) << 1000;
        QTest::newRow("negative") << QVariant(-3) << 0;
        QTest::newRow("not a number") << QVariant("laut") << 1000;
    }
    void volumeIsKeptWithinTheSlider()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, volume);
        {
            // The file as a user might have edited it.
            QSettings file(QSettings::NativeFormat, QSettings::UserScope, "kelvaro-helper", "kelvaro-helper");
            file.clear();
            if (stored.isValid())
                file.setValue("playback/volume", stored);
        }
        QCOMPARE(UserSettings().volume(), volume);
    }

};

KELVARO_TEST_MAIN(FileLocationsTest)
#include "tst_filelocations.moc"
