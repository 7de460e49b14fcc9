#pragma once
#include <QString>

#include <optional>

// What the publisher's version file says about this build.
struct VersionVerdict {
    enum Outcome { Current, Update, NoAnswer };
    Outcome outcome = NoAnswer;
    QString version; // the version the file names for this product (may be empty)
};

// Reads this product's entry out of the version file: the text after the
// first "kv:" (up to the next "kv:"), cut before its first "|". No entry, or
// an entry without its closing "|", reads as the empty version.
QString versionEntry(const QString &text);

// The verdict for a fetched version file; nothing or an empty text means the
// server did not answer.
VersionVerdict judgeVersionFile(const std::optional<QString> &text, const QString &buildVersion);
