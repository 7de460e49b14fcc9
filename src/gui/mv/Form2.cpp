#include "gui/mv/Form2.h"

#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

Form2::Form2(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("获取MV"));
    setFixedSize(460, 236);

    Frame1 = new QGroupBox(QStringLiteral("视频信息"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(12, 8, 436, 104);
    Label1 = new QLabel(QStringLiteral("视频地址："), Frame1);
    Label1->setGeometry(14, 28, 96, 26);
    Text1 = new QLineEdit(Frame1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(112, 28, 308, 26);
    Label2 = new QLabel(QStringLiteral("HTML调用代码："), Frame1);
    Label2->setGeometry(14, 64, 96, 26);
    Text2 = new QLineEdit(Frame1);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(112, 64, 308, 26);

    Frame2 = new QGroupBox(QStringLiteral("友情提示"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(12, 120, 436, 104);
    Label3 = new QLabel(QStringLiteral("已在当前文件夹下生成名为“video.htm”"), Frame2);
    Label3->setGeometry(14, 28, 408, 20);
    Command1 = new QPushButton(QStringLiteral("立刻播放"), Frame2);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(14, 56, 408, 34);

    Form_Load();
}

void Form2::Form_Load()
{
    setWindowIcon(QIcon());
}

void Form2::setPageNote(const QString &text)
{
    Label3->setText(text);
    Label3->setWordWrap(true);
    // Between the frame's title and the button.
    const int height = std::min(Label3->heightForWidth(Label3->width()), Command1->y() - 22);
    Label3->setGeometry(Label3->x(), Command1->y() - 4 - height, Label3->width(), height);
}
