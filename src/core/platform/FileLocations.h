#pragma once
#include <QString>

// Where the program reads its shared files and writes the user's files.
//
// A program whose own folder it can write (the build tree, a copy carried
// around on a stick) keeps everything beside itself: the skin file, the
// "Music" folder and video.htm. An installed program (bin/ under a prefix
// it cannot write, or any bin/ whose skin is in ../share/kelvaro-helper/ and
// not beside it) reads the skin from the installation's share/ folder,
// saves downloads into the user's music folder and writes video.htm into
// its data folder. The choice is made here and nowhere else.
struct FileLocations {
    // The program keeps its files beside itself.
    bool portable = true;
    // The skin file to load; it may not exist, which leaves the plain look.
    QString skinFile;
    // The folder the default download target goes into.
    QString musicFolder;
    // The folder video.htm is written into.
    QString videoPageFolder;

    static FileLocations forProgramFolder(const QString &programFolder);

    // The download panel's explanation of the default target.
    QString downloadExplanation() const;
    // The music video dialog's note on where video.htm was written; empty
    // for the dialog's own text (the current folder).
    QString videoPageNote() const;
};
