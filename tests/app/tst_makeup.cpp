// The main window as designed: texts, states, the status row's geometry,
// the works table's columns and the hidden download panel.
#include "app/Form1.h"
#include "common/TestEnvironment.h"

#include <QHeaderView>
#include <QTextLayout>
#include <QtTest>

class MakeupTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_form = std::make_unique<Form1>(); }
    void cleanup() { m_form.reset(); }

    void windowIsFramelessAndFixed()
    {
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Kelvaro辅助工具 V3.0"));
        QVERIFY(m_form->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(m_form->size(), QSize(1063, 575));
        QCOMPARE(m_form->minimumSize(), QSize(1063, 575));
        QCOMPARE(m_form->maximumSize(), QSize(1063, 575));
    }

    void designTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const QList<QPair<QString, QString>> rows = {
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
        for (const auto &[name, text] : rows)
            QTest::newRow(qPrintable(name)) << name << text;
    }

    void designTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QWidget *widget = m_form->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), text);
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), text);
        else
            QFAIL("neither a label nor a button");
    }

    void designStates()
    {
        Form1 &f = *m_form;
        QVERIFY(!f.Text1->isEnabled());
        QVERIFY(!f.Text2->isEnabled());
        QVERIFY(!f.Command10->isEnabled());
        QVERIFY(!f.Command12->isEnabled());
        QVERIFY(f.Text1->text().isEmpty());
        QVERIFY(f.Text2->text().isEmpty());
        // Everything else is usable from the start, the paste buttons above all.
        for (QPushButton *button : {f.Command9, f.Command11, f.Command7, f.Command16, f.Command13, f.Command8,
                                    f.Command2, f.Command3, f.Command4, f.Command5, f.Command1, f.Command6})
            QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
        QVERIFY(f.Picture3->isHidden());
        QVERIFY(f.aicAlphaImage2->isHidden());
        QVERIFY(!f.Timer3->isActive());
        QVERIFY(!f.Timer4->isActive());
        QCOMPARE(f.Timer3->interval(), 100);
        QCOMPARE(f.Timer4->interval(), 2000);
        QCOMPARE(f.Slider1->minimum(), 0);
        QCOMPARE(f.Slider1->maximum(), 1000);
        QCOMPARE(f.ProgressBar1->minimum(), 0);
        QCOMPARE(f.ProgressBar1->maximum(), 100);
        QCOMPARE(f.aicAlphaImage4->toolTip(), QStringLiteral("关闭"));
        for (QLabel *holder : {f.Image8, f.Image9, f.Image10})
            QVERIFY(holder->isHidden());
    }

    void addressFieldsRefuseTypingUntilEnabled()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QTest::keyClicks(m_form->Text1, QStringLiteral("abc"));
        QTest::keyClicks(m_form->Text2, QStringLiteral("abc"));
        QVERIFY(m_form->Text1->text().isEmpty());
        QVERIFY(m_form->Text2->text().isEmpty());
    }

    void pictureHoldersHaveTheirGeometry()
    {
        QCOMPARE(m_form->Image10->pixmap().size(), QSize(13, 101));
        QCOMPARE(m_form->Image9->pixmap().size(), QSize(70, 69));
        QCOMPARE(m_form->Image8->pixmap().size(), QSize(400, 70));
        QVERIFY(!m_form->Image1->pixmap().isNull());
        QCOMPARE(m_form->Image1->pixmap().toImage(), m_form->Image2->pixmap().toImage());
        QCOMPARE(m_form->Image1->size(), QSize(164, 164)); // 2460 twips
    }

    void statusRowGeometry()
    {
        Form1 &f = *m_form;
        QCOMPARE(f.Image3->geometry(), QRect(8, 536, 1060, 36));
        QCOMPARE(f.Label8[0]->pos(), QPoint(32, 549));
        QCOMPARE(f.Label8[1]->pos(), QPoint(128, 549));
        QCOMPARE(f.Label8[2]->pos(), QPoint(968, 549));
        QCOMPARE(f.Line1->geometry().topLeft(), QPoint(112, 544));
        QCOMPARE(f.Line1->height(), 20);
        QCOMPARE(f.Line2->geometry().topLeft(), QPoint(928, 544));
        QCOMPARE(f.Line2->height(), 20);
        for (QLabel *label : f.Label8)
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    }

    void statusMessageGrowsToTheRight()
    {
        Form1 &f = *m_form;
        const int before = f.Label8[1]->width();
        f.setStatus(QStringLiteral("当前歌手没有音乐作品或未开通Kelvaro会员无法获取"));
        QCOMPARE(f.status(), QStringLiteral("当前歌手没有音乐作品或未开通Kelvaro会员无法获取"));
        QVERIFY(f.Label8[1]->width() > before);
        QCOMPARE(f.Label8[1]->pos(), QPoint(128, 549));
        QCOMPARE(f.Label8[0]->text(), QStringLiteral("运行提示："));
        QCOMPARE(f.Label8[2]->text(), QStringLiteral("Ulvaren出品"));
    }

    void worksTableColumns()
    {
        QTreeWidget *table = m_form->ListView1;
        QCOMPARE(table->columnCount(), 4);
        const QStringList headers = {QStringLiteral("序号"), QStringLiteral("音乐ID"),
                                     QStringLiteral("音乐名称(双击可解析文件地址)"), QStringLiteral("音乐地址")};
        const int widths[] = {60, 100, 260, 0};
        for (int column = 0; column < 4; ++column) {
            QCOMPARE(table->headerItem()->text(column), headers[column]);
            QCOMPARE(table->header()->sectionSize(column), widths[column]);
        }
        QVERIFY(!table->header()->stretchLastSection());
        QCOMPARE(table->topLevelItemCount(), 0);
    }

    void downloadPanelLayout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Picture3") << "Picture3" << QRect(296, 72, 497, 433);
        QTest::newRow("aicAlphaImage4") << "aicAlphaImage4" << QRect(464, 8, 16, 16);
        QTest::newRow("Picture6") << "Picture6" << QRect(24, 64, 441, 49);
        QTest::newRow("Picture4") << "Picture4" << QRect(24, 128, 441, 49);
        QTest::newRow("Command1") << "Command1" << QRect(328, 8, 105, 33);
        QTest::newRow("Picture5") << "Picture5" << QRect(24, 192, 441, 217);
        QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(16, 120, 401, 25);
        QTest::newRow("Command6") << "Command6" << QRect(16, 152, 409, 41);
    }

    void downloadPanelLayout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QWidget *widget = m_form->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), geometry);
    }

    void downloadPanelLabelPositions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("Label12") << "Label12" << "Picture3" << QPoint(24, 24);
        QTest::newRow("Label15") << "Label15" << "Picture6" << QPoint(16, 16);
        QTest::newRow("Label13") << "Label13" << "Picture4" << QPoint(8, 16);
        QTest::newRow("Label14") << "Label14" << "Picture5" << QPoint(16, 16);
        QTest::newRow("Label17") << "Label17" << "Picture5" << QPoint(16, 56);
        QTest::newRow("Label16") << "Label16" << "Picture5" << QPoint(16, 80);
    }

    void downloadPanelLabelPositions()
    {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QPoint, position);
        QWidget *widget = m_form->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        QCOMPARE(widget->pos(), position);
    }

    // Every text of the window is drawn with real glyphs: a missing glyph
    // shows as glyph index 0.
    void chineseTextsHaveGlyphs()
    {
        const QList<QLabel *> labels = m_form->findChildren<QLabel *>();
        const QList<QPushButton *> buttons = m_form->findChildren<QPushButton *>();
        QStringList texts;
        for (QLabel *label : labels)
            texts << label->text();
        for (QPushButton *button : buttons)
            texts << button->text();
        for (const QString &text : texts) {
            if (text.isEmpty())
                continue;
            QTextLayout layout(text, m_form->font());
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            for (const QGlyphRun &run : layout.glyphRuns())
                for (quint32 glyph : run.glyphIndexes())
                    QVERIFY2(glyph != 0, qPrintable(QStringLiteral("no glyph in ") + text));
        }
    }

private:
    std::unique_ptr<Form1> m_form;
};

KELVARO_TEST_MAIN(MakeupTest)
#include "tst_makeup.moc"
