#include "core/version/VersionVerdict.h"

#include "core/lookup/TextOps.h"

QString versionEntry(const QString &text)
{
    // Element 1 of the text split at "kv:", cut before its first "|".
    const std::optional<QStringView> entry = TextOps::after(text, u"kv:");
    if (!entry)
        return {};
    return TextOps::remove(TextOps::upto(*entry, u"|"), u"|");
}

VersionVerdict judgeVersionFile(const std::optional<QString> &text, const QString &buildVersion)
{
    if (!text || text->isEmpty())
        return {VersionVerdict::NoAnswer, {}};
    const QString version = versionEntry(*text);
    return {version == buildVersion ? VersionVerdict::Current : VersionVerdict::Update, version};
}
