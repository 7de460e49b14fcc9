#include "DemoSite.h"

#include "Media.h"
#include "Pages.h"
#include "core/endpoints/Endpoints.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <future>
#include <set>
#include <unordered_map>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace demo {

namespace {

constexpr char Html[] = "text/html; charset=utf-8";
constexpr char PlainText[] = "text/plain; charset=utf-8";
constexpr char Script[] = "application/javascript; charset=utf-8";
constexpr char Png[] = "image/png";
constexpr char Mp3[] = "audio/mpeg";

constexpr char PlayServicePath[] = "/member/personcenter/loadplayurl.php";
constexpr char PlayerPath[] = "/mv/player.js";

struct Resource {
    std::string type;
    std::string body;
};

struct Target {
    std::string host; // lower case, without port
    std::string path; // from the first "/", without query
};

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string withoutPort(const std::string &hostAndPort)
{
    return lower(hostAndPort.substr(0, hostAndPort.find(':')));
}

// "http://host[:port]/path" into host and path; the query is not part of it.
Target splitAddress(std::string_view address)
{
    constexpr std::string_view Scheme = "http://";
    if (address.substr(0, Scheme.size()) == Scheme)
        address.remove_prefix(Scheme.size());
    address = address.substr(0, address.find('?'));
    const std::size_t slash = address.find('/');
    Target target;
    target.host = withoutPort(std::string(address.substr(0, slash)));
    target.path = slash == std::string_view::npos ? "/" : std::string(address.substr(slash));
    return target;
}

// A proxied request names its host in the request line ("GET http://host/path"),
// which the server hands over whole as the path; a direct one uses Host.
Target targetOf(const httplib::Request &request)
{
    const std::string &path = request.path;
    if (path.size() > 7 && lower(path.substr(0, 7)) == "http://")
        return splitAddress(path);
    return {withoutPort(request.get_header_value("Host")), path.empty() ? "/" : path};
}

std::string key(const Target &target)
{
    return target.host + target.path;
}

// A recording sent piece by piece, paused between pieces; a broken one ends
// after half of it by dropping the connection.
void sendAudio(httplib::Response &response, const std::string &body, bool broken, int pauseMs)
{
    const std::size_t end = broken ? body.size() / 2 : body.size();
    response.set_content_provider(
        body.size(), Mp3, [&body, end, pauseMs](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
            if (offset >= end)
                return false; // drops the connection
            if (pauseMs > 0 && offset > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            const std::size_t piece = std::min({length, std::size_t(4096), end - offset});
            return sink.write(body.data() + offset, piece);
        });
}

} // namespace

struct DemoSite::Content {
    std::set<std::string> hosts;
    std::unordered_map<std::string, Resource> resources; // by host + path
    std::unordered_map<std::string, std::string> pageByWorkId;
    std::unordered_map<std::string, std::string> playerByWorkId;
    std::unordered_map<std::string, std::string> workIdByAudio; // by host + path
    std::string unknownPlayer;
    std::string webHost;

    void add(const std::string &address, std::string type, std::string body)
    {
        const Target target = splitAddress(address);
        hosts.insert(target.host);
        resources[key(target)] = Resource{std::move(type), std::move(body)};
    }

    static std::unique_ptr<const Content> build(const std::string &versionText);
};

std::unique_ptr<const DemoSite::Content> DemoSite::Content::build(const std::string &versionText)
{
    auto content = std::make_unique<Content>();
    content->webHost = lower(Endpoints::WebHost);
    content->hosts.insert(content->webHost);

    // The recordings take the longest: encode them side by side.
    std::vector<std::future<std::string>> recordings;
    for (const Work &work : Works) {
        recordings.push_back(std::async(std::launch::async, [&work] {
            return encodeMp3(synthesizeMelody(unsigned(std::stoul(std::string(work.id)))), std::string(work.title),
                             std::string(singerOf(work).name));
        }));
    }

    for (const Singer &singer : Singers) {
        content->add(homeAddress(singer), Html, singerPage(singer));
        content->add(avatarAddress(singer), Png, avatarPicture(singer));
    }
    for (const Work &work : Works) {
        content->add(pageAddress(work), Html, recordingPage(work));
        content->add(headAddress(work), Png, headPicture(work, 100));
        content->add(headPictureAddress(work), Png, headPicture(work, 640));
        content->pageByWorkId[std::string(work.id)] = pageAddress(work);
        content->playerByWorkId[std::string(work.id)] = playerScript(&work);
    }
    content->unknownPlayer = playerScript(nullptr);
    content->add("http://" + std::string(Endpoints::WebHost) + "/static/js/home.js", Script,
                 "function goPlay(wid) {\n"
                 "  var request = new XMLHttpRequest();\n"
                 "  request.open(\"GET\", \"" + std::string(PlayServicePath) + "?wid=\" + wid);\n"
                 "  request.onload = function () { if (request.responseText) location.href = request.responseText; };\n"
                 "  request.send();\n"
                 "}\n");

    content->add(Endpoints::VersionFileUrl, PlainText, versionText);
    content->add(Endpoints::ForumUrl, Html, forumPage());
    content->add(Endpoints::SiteUrl, Html, sitePage());

    for (std::size_t i = 0; i < std::size(Works); ++i) {
        const std::string mp3 = recordings[i].get();
        for (const std::string &address : {audioAddress(Works[i]), rebuiltAudioAddress(Works[i])}) {
            content->add(address, Mp3, mp3);
            content->workIdByAudio[key(splitAddress(address))] = std::string(Works[i].id);
        }
    }
    return content;
}

DemoSite::DemoSite(DemoSiteOptions options) : m_options(std::move(options)) {}

DemoSite::~DemoSite()
{
    stop();
}

bool DemoSite::start(int port)
{
    if (m_server)
        return true;
    auto server = std::make_unique<httplib::Server>();
    // One request per connection: answers are never held back waiting for a
    // kept-alive connection, and stop() does not wait on an idle client.
    server->set_keep_alive_max_count(1);
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    // The content is complete before the first request can arrive.
    server->set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        const Content *content = m_content.get();
        const Target target = targetOf(request);
        if (!content->hosts.count(target.host)) {
            response.status = 502;
            response.set_content("kelvaro-demo-site: no such host here: " + target.host + "\n", PlainText);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.method != "GET" && request.method != "HEAD") {
            response.status = 405;
            response.set_content("kelvaro-demo-site: only GET is served\n", PlainText);
            return httplib::Server::HandlerResponse::Handled;
        }
        // Success leaves the status alone, so that a Range request gets its 206.
        if (target.host == content->webHost && target.path == PlayServicePath) {
            const auto page = content->pageByWorkId.find(request.get_param_value("wid"));
            response.set_content(page == content->pageByWorkId.end() ? std::string() : page->second, Html);
        } else if (target.host == content->webHost && target.path == PlayerPath) {
            const auto player = content->playerByWorkId.find(request.get_param_value("wid"));
            response.set_content(player == content->playerByWorkId.end() ? content->unknownPlayer : player->second,
                                 Script);
        } else if (const auto found = content->resources.find(key(target)); found != content->resources.end()) {
            const auto audio = content->workIdByAudio.find(key(target));
            const bool broken = audio != content->workIdByAudio.end() && m_options.brokenAudio.count(audio->second);
            if (audio != content->workIdByAudio.end() && (broken || m_options.audioPauseMs > 0))
                sendAudio(response, found->second.body, broken, m_options.audioPauseMs);
            else
                response.set_content(found->second.body, found->second.type.c_str());
        } else {
            response.status = 404;
            response.set_content(notFoundPage("http://" + target.host + target.path), Html);
        }
        return httplib::Server::HandlerResponse::Handled;
    });
    if (m_options.logRequests) {
        server->set_logger([](const httplib::Request &request, const httplib::Response &response) {
            std::fprintf(stderr, "kelvaro-demo-site: %s %s -> %d (%zu bytes)\n", request.method.c_str(),
                         request.path.c_str(), response.status, response.body.size());
        });
    }

    int bound = 0;
    if (port == 0)
        bound = server->bind_to_any_port("127.0.0.1");
    else if (server->bind_to_port("127.0.0.1", port))
        bound = port;
    if (bound <= 0)
        return false;
    if (!m_content)
        m_content = Content::build(m_options.versionText);

    m_server = std::move(server);
    m_port = bound;
    m_thread = std::thread([server = m_server.get()] { server->listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_server->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!m_server->is_running()) {
        stop();
        return false;
    }
    return true;
}

void DemoSite::stop()
{
    if (!m_server)
        return;
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_port = 0;
}

} // namespace demo
