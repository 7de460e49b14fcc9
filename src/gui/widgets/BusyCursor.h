#pragma once
#include <QGuiApplication>

// The busy cursor over the whole program for as long as the guard lives.
// Qt keeps override cursors on a stack, so guards nest: a handler that runs
// inside another's wait sets and restores its own, and the outer one's
// cursor stays until the outer wait ends.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};
