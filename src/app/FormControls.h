#pragma once
#include "app/Form1.h"
#include "app/VersionCheck.h"
#include "download/DownloadPanel.h"
#include "mv/MusicVideo.h"
#include "lookup/SongLookup.h"
#include "playback/PlayCommands.h"
#include "works/WorksTable.h"

// The controls each handler class receives, taken from the window's make-up
// in one place, so that the program and the test fixtures wire a window the
// same way. Every handler writes the window's status line.
struct FormControls {
    VersionCheck::Controls versionCheck;
    SongLookup::Controls songLookup;
    PlayCommands::Controls playCommands;
    WorksTable::Controls worksTable;
    DownloadPanel::Controls downloadPanel;
    MusicVideo::Controls musicVideo;
};

FormControls controlsOf(Form1 &form);
