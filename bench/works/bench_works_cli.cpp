// `kelvaro works` on a singer page of 10,000 works over loopback, against
// curl fetching the same page through the same local proxy in the same run.
// The whole command is timed: start-up, fetch, crawl and printing the rows.
//
//   bench_works_cli KELVARO [--works N] [--runs N]
#include "WorksPages.h"

#include "shared/TimedCommand.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

// Answers every request, whatever host it names, with the singer page: it
// stands in for the community as the program's HTTP proxy.
class PageProxy {
public:
    explicit PageProxy(std::string page) : m_page(std::move(page))
    {
        m_server.set_keep_alive_max_count(1);
        m_server.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        });
        m_server.set_pre_routing_handler([this](const httplib::Request &, httplib::Response &response) {
            // Not text/*: the server library would gzip a text answer for Qt,
            // which offers gzip, and not for curl, which does not, and the two
            // would no longer fetch the same thing. The program reads the
            // page as UTF-8 either way.
            response.set_content(m_page, "application/octet-stream");
            return httplib::Server::HandlerResponse::Handled;
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~PageProxy()
    {
        m_server.stop();
        m_thread.join();
    }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

private:
    std::string m_page;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_works_cli KELVARO [--works N] [--runs N]\n");
        return 2;
    }
    const QString kelvaro = args.at(1);
    int works = 10000;
    int runs = 15;
    for (int i = 2; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--works"))
            works = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--runs"))
            runs = args.at(i + 1).toInt();
    }

    const QByteArray page = singerPage(ordinaryRows(works)).toUtf8();
    PageProxy proxy(page.toStdString());
    const QString url = QStringLiteral("http://www.kelvaro.com/u/80231547");
    const QStringList curlArgs{QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"),
                               QStringLiteral("/dev/null"), url};
    const QStringList worksArgs{QStringLiteral("works"), url};

    // Once for the result: every row but the last marker's.
    QByteArray listing;
    if (timedCommand(kelvaro, worksArgs, proxy.address(), &listing) < 0 || listing.count('\n') != works - 1) {
        std::fprintf(stderr, "bench_works_cli: kelvaro works did not list %d rows\n", works - 1);
        return 1;
    }
    if (timedCommand(QStringLiteral("curl"), curlArgs, proxy.address(), nullptr) < 0) {
        std::fprintf(stderr, "bench_works_cli: curl failed\n");
        return 1;
    }

    std::vector<double> ours, theirs, oursCpu, theirsCpu;
    for (int run = 0; run < runs; ++run) {
        double cpu = 0;
        theirs.push_back(timedCommand(QStringLiteral("curl"), curlArgs, proxy.address(), nullptr, &cpu));
        theirsCpu.push_back(cpu);
        ours.push_back(timedCommand(kelvaro, worksArgs, proxy.address(), nullptr, &cpu));
        oursCpu.push_back(cpu);
    }
    const double curlMs = median(theirs) * 1000.0;
    const double oursMs = median(ours) * 1000.0;
    const double goalMs = 1.5 * curlMs + 50.0;
    std::printf("singer page: %d works, %.1f MiB, %d runs each, medians\n", works,
                double(page.size()) / (1024.0 * 1024.0), runs);
    std::printf("curl (fetch only)        %8.1f ms wall, %6.1f ms CPU\n", curlMs, median(theirsCpu) * 1000.0);
    std::printf("kelvaro works            %8.1f ms wall, %6.1f ms CPU  (%.2fx curl)\n", oursMs,
                median(oursCpu) * 1000.0, oursMs / curlMs);
    std::printf("goal: 1.5x curl + 50 ms  %8.1f ms  -> %s\n", goalMs, oursMs <= goalMs ? "met" : "NOT met");
    return 0;
}
