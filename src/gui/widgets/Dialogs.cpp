#include "gui/widgets/Dialogs.h"

#include "gui/widgets/Clipboard.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

MessageAnswer QtDialogService::messageBox(QWidget *parent, const QString &text, const QString &title,
                                          MessageIcon icon, MessageButtons buttons)
{
    QMessageBox box(icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning, title,
                    text, buttons == MessageButtons::Ok ? QMessageBox::Ok : (QMessageBox::Yes | QMessageBox::No),
                    parent);
    const int answer = box.exec();
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<QString> QtDialogService::saveFileName(QWidget *parent, const QString &title,
                                                     const QString &typeDescription, const QString &pattern,
                                                     const QString &startFolder, const QString &suggestedName)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(typeDescription + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    // A folder that is not there yet (the first download's) opens at the
    // nearest one that is.
    QString folder = startFolder.isEmpty() ? QString() : QDir::cleanPath(QDir(startFolder).absolutePath());
    while (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
        const QString up = QFileInfo(folder).path();
        folder = up == folder ? QString() : up;
    }
    if (!folder.isEmpty())
        dialog.setDirectory(folder);
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void QtDialogService::textReport(QWidget *parent, const QString &title, const QString &heading, const QString &text)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *label = new QLabel(heading, &dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto *view = new QPlainTextEdit(&dialog);
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setPlainText(text);
    layout->addWidget(view);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QPushButton *copy = buttons->addButton(QStringLiteral("复制"), QDialogButtonBox::ActionRole);
    QObject::connect(copy, &QPushButton::clicked, &dialog, [text] { copyToClipboard(text); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(520, 300);
    dialog.exec();
}
