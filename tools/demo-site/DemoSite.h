#pragma once
// The local Kelvaro community: an HTTP proxy on 127.0.0.1 that answers for the
// community's hosts (web, media) and the publisher's (update host, forum, web
// site), so the unmodified program runs against it with http_proxy pointing
// here. Requests for any other host get a 502; nothing is forwarded anywhere.

#include "Catalogue.h"

#include <memory>
#include <set>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace demo {

struct DemoSiteOptions {
    std::string versionText{DefaultVersionText}; // the version file's whole body
    bool logRequests = false;                    // one line per request on stderr
    // Works whose recordings break off: the whole size is announced, half of
    // it is sent, then the connection is dropped (at both audio addresses).
    std::set<std::string> brokenAudio;
    // Recordings are sent in pieces of 4 KiB with this pause between them, so
    // that a download takes a while; 0 sends them at once.
    int audioPauseMs = 0;
};

class DemoSite {
public:
    explicit DemoSite(DemoSiteOptions options = {});
    ~DemoSite();
    DemoSite(const DemoSite &) = delete;
    DemoSite &operator=(const DemoSite &) = delete;

    // Generates the pages, pictures and recordings (the first time only) and
    // listens on 127.0.0.1:port, 0 meaning any free port. Returns false when
    // the port cannot be bound. Pictures get their lettering only when a
    // QGuiApplication exists by then.
    bool start(int port = 0);
    void stop();
    int port() const { return m_port; }

    struct Content;

private:
    DemoSiteOptions m_options;
    std::unique_ptr<const Content> m_content;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
};

} // namespace demo
