#include "platform/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

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
                                                     const QString &suggestedName)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(typeDescription + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
