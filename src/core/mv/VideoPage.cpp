#include "core/mv/VideoPage.h"

#include "core/endpoints/Endpoints.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

namespace VideoPage {

bool isPlayerAddress(const QString &mvUrl)
{
    // Scheme, host and port spelt out; what follows starts with / ? or #. A
    // browser drops tabs and line breaks and reads a backslash as a slash, so
    // none of them, nor blanks and control characters, may appear at all.
    static const QRegularExpression plain(
        QStringLiteral("^(?i:https?)://([A-Za-z0-9.-]+)(:[0-9]{1,5})?([/?#][^\\x00-\\x20\\x7f\\\\]*)?$"));
    const QRegularExpressionMatch match = plain.match(mvUrl);
    if (!match.hasMatch())
        return false;
    const QUrl url(mvUrl);
    const QString host = match.captured(1).toLower();
    if (!url.isValid() || url.host() != host)
        return false;
    const QString webHost = QString::fromUtf8(Endpoints::WebHost).toLower();
    const QString domain = QString::fromUtf8(Endpoints::CommunityDomain).toLower();
    return host == webHost || (host.size() > domain.size() + 1 && host.endsWith(QLatin1Char('.') + domain));
}

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
