#include "gui/app/Form1.h"

#include "core/endpoints/Endpoints.h"
#include "gui/app/Appearance.h"
#include "gui/widgets/ElidedLabel.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace {

// Sized to its text; sizing polishes it, so the name (which the skin's rules
// look for) and the font come first.
QLabel *label(const char *name, const QString &text, QWidget *parent, int x, int y, const QFont &font = {})
{
    auto *created = new QLabel(text, parent);
    created->setObjectName(QLatin1String(name));
    if (font.resolveMask())
        created->setFont(font);
    created->move(x, y);
    created->adjustSize();
    return created;
}

// A label for a value taken from a web page: too long for its box, it is cut
// with "…" and shows the whole text as its tip.
ElidedLabel *elidedLabel(const char *name, const QString &text, QWidget *parent, QRect geometry)
{
    auto *created = new ElidedLabel(text, parent);
    created->setObjectName(QLatin1String(name));
    // No height given: as high as one line of the caption.
    if (geometry.height() == 0)
        geometry.setHeight(created->sizeHint().height());
    created->setGeometry(geometry);
    return created;
}

QPushButton *button(const char *name, const QString &text, QWidget *parent, QRect geometry)
{
    auto *created = new QPushButton(text, parent);
    created->setObjectName(QLatin1String(name));
    created->setGeometry(geometry);
    return created;
}

QFrame *section(const char *name, QWidget *parent, QRect geometry)
{
    auto *created = new QFrame(parent);
    created->setObjectName(QLatin1String(name));
    created->setFrameShape(QFrame::StyledPanel);
    created->setGeometry(geometry);
    return created;
}

QFrame *whiteLine(QWidget *parent, int x, int y, int height)
{
    auto *line = new QFrame(parent);
    line->setGeometry(x, y, 1, height);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, Qt::white);
    line->setPalette(palette);
    return line;
}

QPixmap asset(const char *name)
{
    return bundledPicture(QStringLiteral(":/") + QLatin1String(name));
}

} // namespace

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Kelvaro辅助工具 ") + QLatin1String(Endpoints::TitleVersion));
    // No system frame: the window paints its own.
    setWindowFlag(Qt::FramelessWindowHint);
    setFixedSize(ClientWidth, ClientHeight);

    makeAddressRow();
    makeSingerCard();
    makeSongActions();
    makeWorksSection();
    makeStatusRow();
    makeDownloadPanel(); // last of what shows, so that it lies above everything when shown
    // Never shown, so their place among the controls does not matter; made
    // last, their pictures have had the longest to be decoded ahead.
    makePictureHolders();
}

void Form1::makeAddressRow()
{
    QFont captionFont = font();
    captionFont.setPointSizeF(10.5);

    Label11[1] = label("Label11_1", QStringLiteral("请输入Kelvaro网页版地址：（无需Kelvaro会员）"), this, 24, 104, captionFont);

    Text1 = new QLineEdit(this); // recording page address
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(24, 126, 360, 28);
    Text1->setEnabled(false);

    Command9 = button("Command9", QStringLiteral("粘贴地址"), this, {392, 126, 80, 28}); // paste address

    aicAlphaImage3 = new AlphaImageButton(asset("lookup-button.png"), this); // lookup button
    aicAlphaImage3->setObjectName(QStringLiteral("aicAlphaImage3"));
    aicAlphaImage3->move(488, 116);
    // Reachable from the keyboard, right after the paste button.
    aicAlphaImage3->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(Command9, aicAlphaImage3);
}

void Form1::makeSingerCard()
{
    // Image2 only holds the default picture; it sits behind the singer card.
    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setScaledContents(true);
    Image2->setPixmap(asset("default-singer.png"));
    Image2->setGeometry(32, 174, 164, 164);

    Picture1 = section("Picture1", this, {20, 166, 540, 180}); // singer card

    Image1 = new QLabel(Picture1); // singer picture, 2460 twips square
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setScaledContents(true);
    Image1->setGeometry(12, 8, 164, 164);
    Image1->setPixmap(Image2->pixmap());

    aicAlphaImage1 = new AlphaImageButton(asset("picture-frame.png"), Picture1); // frame over the picture
    aicAlphaImage1->setObjectName(QStringLiteral("aicAlphaImage1"));
    aicAlphaImage1->setCursor(Qt::ArrowCursor);
    aicAlphaImage1->move(12, 8);

    Label1 = elidedLabel("Label1", QStringLiteral("歌手名：未查询"), Picture1, {196, 18, 330, 0});
    Label4 = label("Label4", QStringLiteral("粉丝数：未查询"), Picture1, 196, 46);
    Label4->setFixedWidth(330);
    Label3 = label("Label3", QStringLiteral("其他信息："), Picture1, 196, 78);
    Label10 = elidedLabel("Label10", QStringLiteral("请输入地址进行信息提取"), Picture1, {196, 100, 330, 68});
    Label10->setWordWrap(true);
    Label10->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image2->lower();
}

void Form1::makeSongActions()
{
    Picture2 = section("Picture2", this, {20, 354, 540, 170}); // song actions

    Label2 = new AutoSizeLabel(QStringLiteral("演唱歌曲：未查询"), Picture2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(16, 14);
    // A long song name stops short of the panel's edge, leaving room for the
    // music video badge that follows it.
    Label2->setMaximumWidth(Picture2->width() - 16 - 30 - 12);

    aicAlphaImage2 = new AlphaImageButton(asset("mv-badge.png"), Picture2); // music video badge
    aicAlphaImage2->setObjectName(QStringLiteral("aicAlphaImage2"));
    aicAlphaImage2->setCursor(Qt::ArrowCursor);
    aicAlphaImage2->move(16 + Label2->width(), 12);
    aicAlphaImage2->hide();

    Label5 = label("Label5", QStringLiteral("播放次数：未查询"), Picture2, 16, 44);
    Label5->setFixedWidth(250);
    Label6 = label("Label6", QStringLiteral("收到礼物：未查询"), Picture2, 280, 44);
    Label6->setFixedWidth(250);
    Label7 = label("Label7", QStringLiteral("转发次数：未查询"), Picture2, 16, 70);
    Label7->setFixedWidth(250);
    Label9 = label("Label9", QStringLiteral("评论数量：未查询"), Picture2, 280, 70);
    Label9->setFixedWidth(250);

    Command7 = button("Command7", QStringLiteral("在线播放"), Picture2, {16, 98, 96, 32});    // play/stop
    Command16 = button("Command16", QStringLiteral("无法播放?"), Picture2, {120, 98, 96, 32}); // rebuild and play
    Command13 = button("Command13", QStringLiteral("复制地址"), Picture2, {224, 98, 96, 32});  // copy address
    Command8 = button("Command8", QStringLiteral("获取MV"), Picture2, {328, 98, 96, 32});      // music video page
    Command2 = button("Command2", QStringLiteral("下载音乐"), Picture2, {432, 98, 92, 32});    // download panel

    Slider1 = new QSlider(Qt::Horizontal, this); // volume
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setRange(0, 1000);
    Slider1->setSingleStep(10);
    Slider1->setPageStep(100);
    Slider1->setToolTip(QStringLiteral("音量"));
    Slider1->setGeometry(36, 496, 200, 20);
}

void Form1::makeWorksSection()
{
    QFont captionFont = font();
    captionFont.setPointSizeF(10.5);
    Label11[0] = label("Label11_0", QStringLiteral("Kelvaro歌手主页地址：(需Kelvaro会员)"), this, 584, 104, captionFont);

    Text2 = new QLineEdit(this); // singer home page address
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(584, 126, 260, 28);
    Text2->setEnabled(false);

    Command11 = button("Command11", QStringLiteral("粘贴地址"), this, {852, 126, 80, 28}); // paste address
    Command10 = button("Command10", QStringLiteral("批量获取"), this, {940, 126, 100, 28}); // fetch works
    Command10->setEnabled(false);

    ListView1 = new QTreeWidget(this); // works table
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(584, 166, 456, 314);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setColumnCount(4);
    ListView1->setHeaderLabels({QStringLiteral("序号"), QStringLiteral("音乐ID"),
                                QStringLiteral("音乐名称(双击可解析文件地址)"), QStringLiteral("音乐地址")});
    QHeaderView *header = ListView1->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    header->setSectionsClickable(true); // headers press like buttons; nothing sorts
    const int widths[] = {60, 100, 260, 0};
    for (int column = 0; column < 4; ++column)
        header->resizeSection(column, widths[column]);

    Command12 = button("Command12", QStringLiteral("清空列表"), this, {584, 490, 100, 32}); // clear table
    Command12->setEnabled(false);

    Timer3 = new QTimer(this); // builds the rows, one tick
    Timer3->setInterval(100);
    Timer4 = new QTimer(this); // empty-result report
    Timer4->setInterval(2000);

    Command3 = button("Command3", QStringLiteral("Ulvaren系列软件"), this, {742, 490, 112, 32}); // forum
    Command4 = button("Command4", QStringLiteral("Ulvaren官网"), this, {860, 490, 88, 32});      // web site
    Command5 = button("Command5", QStringLiteral("退出程序"), this, {954, 490, 86, 32});        // exit
}

void Form1::makeDownloadPanel()
{
    Picture3 = section("Picture3", this, {296, 72, 497, 433}); // download panel
    Picture3->setAutoFillBackground(true);
    Picture3->hide();

    QFont headingFont = font();
    headingFont.setPointSizeF(10.5);
    Label12 = label("Label12", QStringLiteral("音乐下载器"), Picture3, 24, 24, headingFont);

    aicAlphaImage4 = new AlphaImageButton(asset("panel-close.png"), Picture3); // close image
    aicAlphaImage4->setObjectName(QStringLiteral("aicAlphaImage4"));
    aicAlphaImage4->setGeometry(464, 8, 16, 16);
    aicAlphaImage4->setToolTip(QStringLiteral("关闭"));

    Picture6 = section("Picture6", Picture3, {24, 64, 441, 49});
    Label15 = label("Label15", QStringLiteral("默认路径：当前程序文件目录下“Music”文件夹中( 音乐名称自动填写 )"), Picture6, 16, 16);

    Picture4 = section("Picture4", Picture3, {24, 128, 441, 49});
    Label13 = label("Label13", QStringLiteral("如需更换在此请选择下载的路径："), Picture4, 8, 16);
    Command1 = button("Command1", QStringLiteral("浏览.."), Picture4, {328, 8, 105, 33}); // browse

    Picture5 = section("Picture5", Picture3, {24, 192, 441, 217});
    Label14 = label("Label14", QStringLiteral("音乐信息："), Picture5, 16, 16);
    Label17 = elidedLabel("Label17", QStringLiteral("演唱歌手："), Picture5, {16, 56, 400, 0});
    Label16 = elidedLabel("Label16", QStringLiteral("音乐名称："), Picture5, {16, 80, 400, 0});

    ProgressBar1 = new QProgressBar(Picture5);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(16, 120, 401, 25);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    Command6 = button("Command6", QStringLiteral("开始下载"), Picture5, {16, 152, 409, 41}); // start/stop
}

void Form1::makeStatusRow()
{
    Image3 = new QLabel(this); // crimson strip behind the status row
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setScaledContents(true);
    Image3->setPixmap(asset("status-strip.png"));
    Image3->setGeometry(8, 536, 1060, 36);

    const QString texts[3] = {QStringLiteral("运行提示："), QStringLiteral("正在检测是否最新版本.."),
                              QStringLiteral("Ulvaren出品")};
    const int lefts[3] = {32, 128, 968};
    for (int index = 0; index < 3; ++index) {
        Label8[index] = new AutoSizeLabel(texts[index], this);
        Label8[index]->setObjectName(QStringLiteral("Label8_%1").arg(index));
        Label8[index]->setAttribute(Qt::WA_TranslucentBackground);
        QPalette palette = Label8[index]->palette();
        palette.setColor(QPalette::WindowText, Qt::white);
        Label8[index]->setPalette(palette);
        Label8[index]->move(lefts[index], 549);
        Label8[index]->adjustSize();
    }
    Line1 = whiteLine(this, 112, 544, 20);
    Line2 = whiteLine(this, 928, 544, 20);
}

void Form1::makePictureHolders()
{
    const auto holder = [this](const char *name, const char *picture) {
        auto *image = new QLabel(this);
        image->setObjectName(QLatin1String(name));
        image->setPixmap(asset(picture));
        image->hide();
        return image;
    };
    Image8 = holder("Image8", "title-banner.png");
    Image9 = holder("Image9", "title-buttons.png");
    Image10 = holder("Image10", "frame-skin.png");
}

void Form1::drawTitleButtons(ButtonLook minimise, ButtonLook close)
{
    m_minimiseLook = minimise;
    m_closeLook = close;
    update(minimiseButtonRect(width()).united(closeButtonRect(width())));
}

void Form1::paintEvent(QPaintEvent *event)
{
    // A repaint of the whole window is the frame's own paint: the title
    // buttons come back in their normal look.
    if (event->rect().contains(rect())) {
        m_minimiseLook = ButtonLook::Normal;
        m_closeLook = ButtonLook::Normal;
    }

    QPainter painter(this);
    painter.fillRect(rect(), palette().window());

    // The frame and the banner, from the picture holders. Sizes that differ
    // from the source stretch it.
    const QPixmap skin = Image10->pixmap();
    const int SW = width();
    const int SH = height();
    const struct {
        QRect from;
        QRect to;
    } frame[] = {
        {{0, 0, 6, 100}, {0, 0, 6, 100}},            // top-left corner
        {{6, 0, 1, 100}, {6, 0, SW - 12, 100}},      // title band
        {{7, 0, 6, 100}, {SW - 6, 0, 6, 100}},       // top-right corner
        {{0, 68, 3, 28}, {0, 68, 3, SH - 73}},       // left edge
        {{10, 68, 3, 28}, {SW - 3, 68, 3, SH - 73}}, // right edge
        {{0, 96, 6, 5}, {0, SH - 5, 6, 5}},          // bottom-left corner
        {{6, 96, 1, 5}, {6, SH - 5, SW - 12, 5}},    // bottom edge
        {{7, 96, 6, 5}, {SW - 6, SH - 5, 6, 5}},     // bottom-right corner
    };
    for (const auto &piece : frame)
        painter.drawPixmap(piece.to, skin, piece.from);

    // Title buttons: the sprite holds the looks one under the other.
    const QPixmap buttons = Image9->pixmap();
    const auto row = [](ButtonLook look, int pressedRow) {
        return look == ButtonLook::Normal ? 0 : (look == ButtonLook::Hover ? 21 : pressedRow);
    };
    painter.drawPixmap(minimiseButtonRect(SW), buttons, QRect(0, row(m_minimiseLook, 41), 29, 20));
    painter.drawPixmap(closeButtonRect(SW), buttons, QRect(29, row(m_closeLook, 42), 41, 20));

    painter.drawPixmap(10, 16, Image8->pixmap()); // title banner
}

void Form1::setDownloadExplanation(const QString &text)
{
    Label15->setText(text);
    Label15->setWordWrap(false);
    Label15->adjustSize();
    const int room = Picture6->width() - 2 * Label15->x();
    if (Label15->width() <= room)
        return;
    Label15->setWordWrap(true);
    Label15->resize(room, Label15->heightForWidth(room));
    Label15->move(Label15->x(), std::max(0, (Picture6->height() - Label15->height()) / 2));
}
