#pragma once
// The works listing wired into a main window as the program wires it, the
// song lookup's parse action behind the double-click, ready for the user.
#include "app/ColumnLock.h"
#include "app/Form1.h"
#include "common/Fakes.h"
#include "lookup/SongLookup.h"
#include "works/WorksTable.h"

#include <QtTest>

struct WorksWindow {
    // `fetch` reads the pages (the real page fetch when empty).
    explicit WorksWindow(const PageFetch &fetch = {})
        : lookup(SongLookup::Controls{form.Text1, form.aicAlphaImage3, form.Command13, form.Command9, form.Label1,
                                      form.Label4, form.Label10, form.Label2, form.Label5, form.Label6, form.Label7,
                                      form.Label9, form.Image1, form.Image2, form.aicAlphaImage2, status()},
                 song, fetch)
        , works(WorksTable::Controls{&form, form.Text2, form.Command10, form.Command11, form.Command12,
                                     form.ListView1, form.Timer3, form.Timer4, form.Text1, form.Command7, status()},
                song, [this] { lookup.aicAlphaImage3_Click(); }, media, dialogs, fetch)
    {
        // What start-up and the version check do before the user comes.
        HookListView(form.ListView1);
        for (QWidget *control : std::initializer_list<QWidget *>{form.Text1, form.Text2, form.Command10,
                                                                 form.Command12})
            control->setEnabled(true);
        form.show();
    }

    std::function<void(const QString &)> status()
    {
        return [this](const QString &text) { form.setStatus(text); };
    }
    int rowCount() const { return form.ListView1->topLevelItemCount(); }
    QStringList rowTexts(int row) const
    {
        const QTreeWidgetItem *item = form.ListView1->topLevelItem(row);
        return {item->text(0), item->text(1), item->text(2), item->text(3)};
    }
    bool idle() const { return form.Command10->isEnabled() && form.Text2->isEnabled(); }
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
    WorksTable works;
};
