// The main window as designed: texts, states, the status row's geometry,
// the works table's columns, and real glyphs for every text.
#include "gui/app/Appearance.h"
#include "gui/app/Form1.h"
#include "common/TestEnvironment.h"

#include <QHeaderView>
#include <QTextLayout>
#include <QtTest>

class MakeupTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> m_form;

private slots:
    void init() { m_form = std::make_unique<Form1>(); }
    void cleanup() { m_form.reset(); }

    void designTexts()
    {
        const std::pair<const char *, const char *> rows[] = {
            {"Label11_1", "请输入Kelvaro网页版地址：（无需Kelvaro会员）"},
            {"Label11_0", "Kelvaro歌手主页地址：(需Kelvaro会员)"},
            {"Command9", "粘贴地址"},
            {"Command11", "粘贴地址"},
            {"Command10", "批量获取"},
            {"Command12", "清空列表"},
            {"Label1", "歌手名：未查询"},
            {"Label4", "粉丝数：未查询"},
            {"Label3", "其他信息："},
            {"Label10", "请输入地址进行信息提取"},
            {"Label2", "演唱歌曲：未查询"},
            {"Label5", "播放次数：未查询"},
            {"Label6", "收到礼物：未查询"},
            {"Label7", "转发次数：未查询"},
            {"Label9", "评论数量：未查询"},
            {"Command7", "在线播放"},
            {"Command16", "无法播放?"},
            {"Command13", "复制地址"},
            {"Command8", "获取MV"},
            {"Command2", "下载音乐"},
            {"Command3", "Ulvaren系列软件"},
            {"Command4", "Ulvaren官网"},
            {"Command5", "退出程序"},
            {"Label12", "音乐下载器"},
            {"Label15", "默认路径：当前程序文件目录下“Music”文件夹中( 音乐名称自动填写 )"},
            {"Label13", "如需更换在此请选择下载的路径："},
            {"Command1", "浏览.."},
            {"Label14", "音乐信息："},
            {"Label17", "演唱歌手："},
            {"Label16", "音乐名称："},
            {"Command6", "开始下载"},
            {"Label8_0", "运行提示："},
            {"Label8_1", "正在检测是否最新版本.."},
            {"Label8_2", "Ulvaren出品"},
        };
        for (const auto &[name, text] : rows) {
            const QWidget *widget = m_form->findChild<QWidget *>(QLatin1String(name));
            QVERIFY2(widget && (qobject_cast<const QLabel *>(widget) || qobject_cast<const QAbstractButton *>(widget)),
                     name);
            QCOMPARE(widget->property("text").toString(), QString::fromUtf8(text));
        }
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Kelvaro辅助工具 V3.0"));
        QCOMPARE(m_form->aicAlphaImage4->toolTip(), QStringLiteral("关闭"));
    }

    void designStates()
    {
        Form1 &f = *m_form;
        QVERIFY(f.windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(f.minimumSize(), QSize(1063, 575));
        QCOMPARE(f.maximumSize(), QSize(1063, 575));
        // Locked until the version check; everything else usable, the paste buttons above all.
        for (QWidget *locked : std::initializer_list<QWidget *>{f.Text1, f.Text2, f.Command10, f.Command12})
            QVERIFY2(!locked->isEnabled(), qPrintable(locked->objectName()));
        for (QPushButton *button : {f.Command9, f.Command11, f.Command7, f.Command16, f.Command13, f.Command8,
                                    f.Command2, f.Command3, f.Command4, f.Command5, f.Command1, f.Command6})
            QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
        QVERIFY(f.Text1->text().isEmpty() && f.Text2->text().isEmpty());
        for (QWidget *hidden : std::initializer_list<QWidget *>{f.Picture3, f.aicAlphaImage2, f.Image8, f.Image9, f.Image10})
            QVERIFY2(hidden->isHidden(), qPrintable(hidden->objectName()));
        QVERIFY(!f.Timer3->isActive() && !f.Timer4->isActive());
        QCOMPARE(QList<int>({f.Timer3->interval(), f.Timer4->interval()}), QList<int>({100, 2000}));
        QCOMPARE(QList<int>({f.Slider1->minimum(), f.Slider1->maximum()}), QList<int>({0, 1000}));
        QCOMPARE(QList<int>({f.ProgressBar1->minimum(), f.ProgressBar1->maximum()}), QList<int>({0, 100}));
        QCOMPARE(f.Image1->pixmap().toImage(), f.Image2->pixmap().toImage()); // the default singer picture
    }

    // White texts on the strip; the status message grows to the right only.
    void statusRow()
    {
        Form1 &f = *m_form;
        QCOMPARE(f.Image3->geometry(), QRect(8, 536, 1060, 36));
        QCOMPARE(QList<QPoint>({f.Label8[0]->pos(), f.Label8[1]->pos(), f.Label8[2]->pos()}),
                 QList<QPoint>({{32, 549}, {128, 549}, {968, 549}}));
        QCOMPARE(QList<QPoint>({f.Line1->pos(), f.Line2->pos()}), QList<QPoint>({{112, 544}, {928, 544}}));
        QCOMPARE(QList<int>({f.Line1->height(), f.Line2->height()}), QList<int>({20, 20}));
        for (QLabel *label : f.Label8)
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
        const int before = f.Label8[1]->width();
        f.setStatus(QStringLiteral("当前歌手没有音乐作品或未开通Kelvaro会员无法获取"));
        QVERIFY(f.Label8[1]->width() > before);
        QCOMPARE(f.Label8[1]->pos(), QPoint(128, 549));
    }

    void worksTableColumns()
    {
        QTreeWidget *table = m_form->ListView1;
        QCOMPARE(table->columnCount(), 4);
        QStringList headers;
        QList<int> widths;
        for (int column = 0; column < 4; ++column) {
            headers << table->headerItem()->text(column);
            widths << table->header()->sectionSize(column);
        }
        QCOMPARE(headers, QStringList({"序号", "音乐ID", "音乐名称(双击可解析文件地址)", "音乐地址"}));
        QCOMPARE(widths, QList<int>({60, 100, 260, 0}));
        QVERIFY(!table->header()->stretchLastSection());
    }

    // Every text of the window is drawn with real glyphs: a missing glyph
    // shows as glyph index 0.
    void chineseTextsHaveGlyphs()
    {
        QStringList texts;
        for (const QLabel *label : m_form->findChildren<QLabel *>())
            texts << label->text();
        for (const QPushButton *button : m_form->findChildren<QPushButton *>())
            texts << button->text();
        texts.removeAll(QString());
        QVERIFY(texts.size() > 30);
        for (const QString &text : texts) {
            QTextLayout layout(text, m_form->font());
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            for (const QGlyphRun &run : layout.glyphRuns())
                for (const quint32 glyph : run.glyphIndexes())
                    QVERIFY2(glyph != 0, qPrintable(QStringLiteral("no glyph in ") + text));
        }
    }

    // The pictures compiled into the program come out as the ordinary
    // loader, which may ask every image plugin, decodes them; a name that is
    // not there gives no picture.
    void bundledPictures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("title banner") << ":/title-banner.png" << QSize(400, 70);
        QTest::newRow("title buttons") << ":/title-buttons.png" << QSize(70, 69);
        QTest::newRow("singer picture") << ":/default-singer.png" << QSize(90, 90);
        QTest::newRow("largest icon") << ":/com.ulvaren.KelvaroHelper-256.png" << QSize(256, 256);
        QTest::newRow("missing") << ":/no-such-picture.png" << QSize();
    }
    void bundledPictures()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QPixmap picture = bundledPicture(path);
        QCOMPARE(picture.isNull(), !size.isValid());
        if (picture.isNull())
            return;
        QCOMPARE(picture.size(), size);
        const QImage expected = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(picture.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);
    }

    // Decoded ahead on another thread, the pictures come out the same, asked
    // for in any order and more than once; those not decoded ahead, and names
    // that are not there, come out as without it.
    void bundledPicturesDecodedAhead()
    {
        const QStringList ahead = QStringList{":/default-singer.png", ":/no-such-picture.png", ":/title-banner.png"}
                                + builtInIconFiles();
        preloadBundledPictures(ahead);
        for (const QString path : {":/title-banner.png", ":/title-buttons.png", ":/no-such-picture.png",
                                   ":/default-singer.png", ":/title-banner.png"}) {
            const QImage expected = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            const QPixmap picture = bundledPicture(path);
            QCOMPARE(picture.isNull(), expected.isNull());
            if (!expected.isNull())
                QCOMPARE(picture.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);
        }
        QList<int> sizes;
        for (const QSize &size : builtInIcon().availableSizes())
            sizes << size.width();
        std::sort(sizes.begin(), sizes.end());
        QCOMPARE(sizes, (QList<int>{48, 128, 256}));
    }

    // The window shows its pictures: the frame's holders and the lookup button.
    void picturesInPlace()
    {
        QCOMPARE(m_form->Image8->pixmap().size(), QSize(400, 70));
        QCOMPARE(m_form->Image10->pixmap().size(), QSize(13, 101));
        QCOMPARE(m_form->Image1->pixmap().cacheKey(), m_form->Image2->pixmap().cacheKey());
        QCOMPARE(m_form->aicAlphaImage3->size(), QSize(48, 48));
    }

    // Qt's own texts (message box buttons, the file dialog, a text field's
    // context menu) come in Chinese once the program loads Qt's translations.
    // Last here: the translations stay installed.
    void qtOwnTextsInChinese_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("cancel") << "QPlatformTheme" << "Cancel" << "取消";
        QTest::newRow("yes") << "QPlatformTheme" << "&Yes" << "是(&Y)";
        QTest::newRow("file dialog") << "QFileDialog" << "File &name:" << "文件名称(&N)：";
        QTest::newRow("paste") << "QLineEdit" << "&Paste" << "粘贴(&P)";
    }
    void qtOwnTextsInChinese()
    {
        QFETCH(QString, context);
        QFETCH(QString, english);
        QFETCH(QString, chinese);
        static const bool loaded = loadQtTranslations(*qApp);
        QVERIFY2(loaded, "qt6-translations-l10n is not installed (scripts/setup installs it)");
        QCOMPARE(QCoreApplication::translate(context.toUtf8().constData(), english.toUtf8().constData()), chinese);
    }
};

KELVARO_TEST_MAIN(MakeupTest)
#include "tst_makeup.moc"
