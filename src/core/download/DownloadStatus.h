#pragma once

// The status codes Cls_DownLoad raises through DLFileStatus, in the order a
// transfer passes them. The numbers are part of the engine's interface: the
// download panel, `kelvaro download` and the tests all speak of them by
// these names.
namespace DownloadStatus {
enum Code : int {
    Connecting = 1,       // first thing in every transfer
    SessionOpen = 2,      // a network session is at hand
    Answered = 3,         // the server answered with an HTTP status, whatever it was
    Receiving = 4,        // size read, about to open the target file; progress follows
    StoppedOnRequest = 5, // a stop request was acted on
    HandlesClosed = 6,    // last status of every transfer that had a session
    NoSession = 7,        // no network session: ends the transfer at once
    NoAnswer = 8,         // refused, unknown host, no connection, silent server; 6 follows
    DataEnded = 9,        // the data ended, or a read failed
};
} // namespace DownloadStatus
