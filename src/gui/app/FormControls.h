#pragma once
#include "gui/app/Form1.h"
#include "gui/app/VersionCheck.h"
#include "gui/download/DownloadPanel.h"
#include "gui/mv/MusicVideo.h"
#include "gui/lookup/SongLookup.h"
#include "gui/playback/PlayCommands.h"
#include "gui/works/WorksTable.h"

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
