#pragma once
// The works listing wired into a main window as the program wires it, the
// song lookup's parse action behind the double-click, ready for the user.
#include "gui/app/ColumnLock.h"
#include "gui/app/Form1.h"
#include "gui/app/FormControls.h"
#include "common/Fakes.h"
#include "gui/lookup/SongLookup.h"
#include "gui/works/WorksTable.h"

#include <QtTest>

struct WorksWindow {
    // `fetch` reads the pages (the real page fetch when empty).
    explicit WorksWindow(const PageFetch &fetch = {})
        : lookup(controlsOf(form).songLookup, song, fetch)
        , play(controlsOf(form).playCommands, song, media)
        , works(controlsOf(form).worksTable, song,
                [this](SongLookups::Done done) { return lookup.lookUp(std::move(done)); }, play, dialogs, fetch)
    {
        // What start-up and the version check do before the user comes.
        HookListView(form.ListView1);
        for (QWidget *control : std::initializer_list<QWidget *>{form.Text1, form.Text2, form.Command10,
                                                                 form.Command12})
            control->setEnabled(true);
        form.show();
    }

    // The play button as after a click on it: something plays. The media
    // commands it sent and its status text are forgotten.
    void playSomething()
    {
        const QString shown = song.MusicUrl;
        const QString status = form.status();
        song.MusicUrl = QStringLiteral("http://127.0.0.1:9/playing.mp3");
        form.Command7->click();
        song.MusicUrl = shown;
        form.setStatus(status);
        media.commands.clear();
        QVERIFY(play.playing());
    }
    int rowCount() const { return form.ListView1->topLevelItemCount(); }
    QStringList rowTexts(int row) const
    {
        const QTreeWidgetItem *item = form.ListView1->topLevelItem(row);
        return {item->text(0), item->text(1), item->text(2), item->text(3)};
    }
    bool idle() const { return form.Command10->isEnabled() && form.Text2->isEnabled(); }
    // Selects the row and double-clicks it; the lookup goes on afterwards.
    void doubleClickRow(int row)
    {
        QWidget *viewport = form.ListView1->viewport();
        const QPoint at = form.ListView1->visualItemRect(form.ListView1->topLevelItem(row)).center();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    }

    Form1 form;
    SongState song;
    ScriptedDialogs dialogs;
    RecordingMediaControl media;
    SongLookup lookup;
    PlayCommands play;
    WorksTable works;
};
