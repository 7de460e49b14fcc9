#pragma once

class QTreeWidget;

// Locks the columns of a works table: no divider can be dragged and no
// divider double-click auto-sizes a column, so a zero-width column stays
// hidden for good. Clicks on headers and rows behave as usual.
void HookListView(QTreeWidget *listView);
