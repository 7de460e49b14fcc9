// Long captions cut with "…" and shown whole as a tip; the contrast of
// disabled buttons as the skinned window draws them; the skin's colours on
// the dialogs.
#include "gui/app/Form1.h"
#include "gui/app/SkinLayer.h"
#include "common/TestEnvironment.h"
#include "gui/mv/Form2.h"
#include "gui/widgets/ElidedLabel.h"

#include <QMessageBox>
#include <QTextBoundaryFinder>
#include <QtTest>

#include <map>

namespace {

double luminance(QColor c)
{
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(QColor a, QColor b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour a rendered widget shows most, inside its rim.
QColor dominant(const QImage &image)
{
    std::map<QRgb, int> counts;
    for (int y = 3; y < image.height() - 3; ++y)
        for (int x = 3; x < image.width() - 3; ++x)
            ++counts[image.pixel(x, y)];
    return QColor(std::max_element(counts.begin(), counts.end(), [](auto a, auto b) { return a.second < b.second; })->first);
}

void applySkin()
{
    SkinLayer skin(*qApp);
    QCOMPARE(skin.attachEx(QStringLiteral(KELVARO_SOURCE_DIR "/assets/skinh.she")), 0);
    skin.adjustHsv(140, 0, 0);
}

} // namespace

class LegibilityTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        qApp->setStyleSheet(QString());
        qApp->setPalette(QPalette());
    }

    void elision_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("wrapped");
        QTest::addColumn<bool>("elided");
        const QString song = QStringLiteral("演唱歌曲：");
        QTest::newRow("fits") << song + "小情歌" << false << false;
        QTest::newRow("long song name") << song + QString(60, QChar(0x6B4C)) << false << true;
        QTest::newRow("surrogate pairs") << song + QString::fromUtf8("𠀀𠀁𠀂").repeated(30) << false << true;
        QTest::newRow("accents stay on their letter") << QString::fromUtf8("e\u0301a\u0300").repeated(80) << false << true;
        QTest::newRow("emoji sequences") << QString::fromUtf8("👨‍👩‍👧🏳️‍🌈").repeated(40) << false << true;
        QTest::newRow("other information fits its lines") << QStringLiteral("一二三四五六七八九十").repeated(3) << true
                                                          << false;
        QTest::newRow("other information too long") << QStringLiteral("一二三 四五六七 八九十").repeated(40) << true
                                                    << true;
    }
    void elision()
    {
        QFETCH(QString, caption);
        QFETCH(bool, wrapped);
        QFETCH(bool, elided);
        ElidedLabel label;
        label.setWordWrap(wrapped);
        label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label.setGeometry(0, 0, 330, wrapped ? 68 : 20);
        label.setText(QStringLiteral("旧的很长的名字").repeated(20));
        label.grab();
        label.setText(caption);
        label.grab(); // paints, and the tip follows the caption

        QCOMPARE(label.text(), caption); // read back whole, as the download panel does
        QCOMPARE(label.isElided(), elided);
        QCOMPARE(label.toolTip(), elided ? caption : QString());
        const QStringList lines = label.displayedLines();
        for (const QString &line : lines)
            QVERIFY2(label.fontMetrics().horizontalAdvance(line) <= 330, qPrintable(line));
        const QString shown = lines.join(QString());
        if (!elided) {
            QCOMPARE(shown, caption);
            return;
        }
        QVERIFY(shown.endsWith(QChar(0x2026)));
        const QString kept = shown.chopped(1);
        QVERIFY(caption.startsWith(kept));
        QVERIFY(kept.size() > 3);
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, caption);
        graphemes.setPosition(int(kept.size()));
        QVERIFY2(graphemes.isAtBoundary(), "cut inside a character");
    }

    // The song name stops short of its panel's edge, leaving the music video
    // badge room after it, and still reads back whole.
    void songNameLeavesRoomForTheBadge()
    {
        Form1 f;
        const QString caption = QStringLiteral("演唱歌曲：") + QString(80, QChar(0x6B4C));
        f.Label2->setText(caption);
        QCOMPARE(f.Label2->text(), caption);
        QVERIFY(f.Label2->isElided());
        QVERIFY(f.Label2->geometry().right() + f.aicAlphaImage2->width() < f.Picture2->width());
        f.Label2->setText(QStringLiteral("演唱歌曲：短"));
        QVERIFY(!f.Label2->isElided());
        QCOMPARE(f.Label2->width(), f.Label2->sizeHint().width()); // sized to a caption that fits
    }

    // A disabled button's caption against its own fill, as the skinned window
    // renders it.
    void disabledButtonsContrast_data()
    {
        QTest::addColumn<QString>("button");
        for (const char *name : {"Command10", "Command12", "Command2", "Command6", "Command7"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void disabledButtonsContrast()
    {
        QFETCH(QString, button);
        applySkin();
        Form1 f;
        f.Picture3->show();
        auto *control = f.findChild<QPushButton *>(button);
        QVERIFY(control);
        control->setEnabled(false);
        const QImage image = control->grab().toImage();
        const QColor fill = dominant(image);
        double ink = 1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ink = std::max(ink, contrast(QColor(image.pixel(x, y)), fill));
        QVERIFY2(ink >= 3.0, qPrintable(QStringLiteral("%1: %2:1 on %3").arg(button).arg(ink).arg(fill.name())));
        // Still plainly off: the enabled look is another fill.
        control->setEnabled(true);
        QVERIFY(dominant(control->grab().toImage()) != fill);
    }

    // The music video dialog and the message boxes sit on the window's own
    // background colour.
    void dialogsWearTheSkin()
    {
        applySkin();
        Form1 f;
        const QColor window = f.grab(QRect(572, 300, 1, 1)).toImage().pixelColor(0, 0);
        Form2 dialog;
        QMessageBox box(QMessageBox::Information, QStringLiteral("Ulvaren系列软件"), QStringLiteral("没有发现视频文件.."));
        QCOMPARE(dialog.grab(QRect(4, 4, 1, 1)).toImage().pixelColor(0, 0), window);
        QCOMPARE(box.grab(QRect(2, 2, 1, 1)).toImage().pixelColor(0, 0), window);
        QVERIFY(window != QApplication::style()->standardPalette().color(QPalette::Window));
    }
};

KELVARO_TEST_MAIN(LegibilityTest)
#include "tst_legibility.moc"
