#pragma once
#include <QByteArray>
#include <QString>

#include <optional>

// A temporary file that a cut, stopped or abandoned transfer left for the
// next transfer into the same target to continue, with what is needed to
// continue it safely. The records live in a folder of the user's own (one
// file per target, named by a hash of the target's path), never beside the
// target, so nobody who can write to the target's folder can plant one.
struct KeptPartial {
    QString target;          // the target's absolute path
    QString temp;            // the temporary file, in the target's folder
    QString url;             // the address it came from
    QByteArray etag;         // the answer's validators, as sent
    QByteArray lastModified;
    qint64 length = 0;       // the whole file's size, 0 when it was not announced
    quint64 device = 0;      // what the temporary file was when it was kept
    quint64 inode = 0;

    // What an If-Range may name: a strong ETag, else Last-Modified; empty
    // when the answer had neither (such bytes cannot be continued).
    static QByteArray validator(const QByteArray &etag, const QByteArray &lastModified);
    QByteArray validator() const { return validator(etag, lastModified); }

    // The user's folder for the records.
    static QString defaultFolder();
    static QString recordPath(const QString &folder, const QString &target);
    // The record for `target`, when there is a readable one for it.
    static std::optional<KeptPartial> load(const QString &folder, const QString &target);
    bool save(const QString &folder) const;
    static void remove(const QString &folder, const QString &target);

    enum class Check {
        Usable,  // ours, unchanged, and worth continuing from `url`
        Stale,   // ours, but not to be continued (another address, no validator, too long)
        NotOurs, // missing, or not the file that was kept: never opened nor removed
    };
    // Looks at the temporary file without opening it (lstat): a regular
    // file, not a link, of this user, the recorded device and inode, one
    // link, in the target's folder. `size` gets its size.
    Check check(const QString &address, qint64 *size) const;
};
