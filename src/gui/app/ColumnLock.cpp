#include "gui/app/ColumnLock.h"

#include <QHeaderView>
#include <QTreeWidget>

void HookListView(QTreeWidget *listView)
{
    QHeaderView *header = listView->header();
    header->setSectionsMovable(false);
    // Fixed sections refuse both a divider drag and a divider double-click.
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setStretchLastSection(false);
    for (int column = 0; column < header->count(); ++column) {
        if (header->sectionSize(column) == 0)
            header->setSectionHidden(column, true);
    }
}
