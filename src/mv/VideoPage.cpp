#include "mv/VideoPage.h"

#include <QSaveFile>

namespace VideoPage {

QString html(const QString &mvUrl)
{
    QString address = mvUrl;
    address.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return QStringLiteral("<div><script src=\"") + address
        + QStringLiteral("\" type=\"text/javascript\"></script></div>");
}

QString write(const QString &path, const QString &html)
{
    // Written aside and renamed into place: a failed write leaves the earlier page whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(html.toUtf8() + "\r\n");
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace VideoPage
