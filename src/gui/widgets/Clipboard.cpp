#include "gui/widgets/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

void pasteInto(QLineEdit *field)
{
    if (!field)
        return;
    field->setText(QString());
    field->setText(QGuiApplication::clipboard()->text());
}

void copyToClipboard(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}
