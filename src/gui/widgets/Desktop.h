#pragma once
#include <QString>

// What the program asks of the desktop: open an address or a file with the
// user's default handler, and show a file selected in the file manager.
// Nothing is ever run through a shell string.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual bool openAddress(const QString &address) = 0;
    virtual bool showInFileManager(const QString &filePath) = 0;
};

class SystemDesktop final : public Desktop {
public:
    bool openAddress(const QString &address) override;
    // The freedesktop file-manager call, falling back to opening the folder.
    bool showInFileManager(const QString &filePath) override;
};
