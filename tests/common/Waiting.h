#pragma once
// Fetches as tests use them: waited for on the test's stack, or answered
// from a table on the next turn of the event loop as the network would.
#include "core/lookup/PageFetcher.h"
#include "core/lookup/PictureLoader.h"
#include "core/lookup/SongExtraction.h"

#include <QEventLoop>
#include <QNetworkRequest>
#include <QTimer>

#include <functional>
#include <optional>

// Starts a fetch through `start(done)` and waits for what it hands to `done`.
template <typename Result, typename Start>
Result awaitAnswer(Start start)
{
    std::optional<Result> result;
    QEventLoop loop;
    const FetchHandle handle = start([&result, &loop](Result value) {
        result = std::move(value);
        loop.quit();
    });
    if (!result)
        loop.exec();
    return std::move(*result);
}

inline std::optional<QString> bodyOf(const QString &url, const FetchLimits &limits = {})
{
    return awaitAnswer<std::optional<QString>>([&](PageDone done) { return GetBody(url, std::move(done), limits); });
}

inline std::optional<QString> pageOf(const QString &url, const FetchLimits &limits = {})
{
    return awaitAnswer<std::optional<QString>>([&](PageDone done) { return GetPage(url, std::move(done), limits); });
}

inline std::optional<HttpAnswer> answerOf(const QNetworkRequest &request, const FetchLimits &limits = {})
{
    return awaitAnswer<std::optional<HttpAnswer>>(
        [&](AnswerDone done) { return fetchHttp(request, limits, std::move(done)); });
}

inline std::optional<QImage> pictureOf(const QString &path, const FetchLimits &limits = {})
{
    return awaitAnswer<std::optional<QImage>>(
        [&](PictureDone done) { return LoadPicture(path, std::move(done), limits); });
}

// Starts a lookup and waits for its end: Refused when it was refused at once.
inline LookupOutcome lookUpAndWait(SongLookups &lookups, const QString &address)
{
    std::optional<LookupOutcome> outcome;
    QEventLoop loop;
    if (!lookups.start(address, [&outcome, &loop](LookupOutcome ended) {
            outcome = ended;
            loop.quit();
        }))
        return LookupOutcome::Refused;
    if (!outcome)
        loop.exec();
    return *outcome;
}

// An answer on the next turn of the event loop: first `during` runs (the
// answer is "on its way" then, and `during` may cancel it), then, unless it
// was cancelled, `deliver`. `cancelled` runs when it is cancelled before it
// delivered.
class LaterDelivery final : public PendingFetch {
public:
    LaterDelivery(std::function<void()> during, std::function<void()> deliver, std::function<void()> cancelled = {})
        : m_during(std::move(during)), m_deliver(std::move(deliver)), m_onCancel(std::move(cancelled))
    {
        QTimer::singleShot(0, this, [this] {
            if (m_cancelled)
                return;
            if (m_during)
                m_during();
            if (m_cancelled)
                return;
            m_cancelled = true; // answered
            deleteLater();
            m_deliver();
        });
    }

    void cancel() override
    {
        PendingFetch::cancel();
        if (m_onCancel)
            std::exchange(m_onCancel, nullptr)();
    }

private:
    std::function<void()> m_during;
    std::function<void()> m_deliver;
    std::function<void()> m_onCancel;
};

// A page fetch answered by `answer`, asked when the fetch starts, and handed
// over on the next turn of the event loop.
inline PageFetch laterPages(std::function<std::optional<QString>(const QString &address)> answer)
{
    return [answer = std::move(answer)](const QString &address, PageDone done) {
        std::optional<QString> page = answer(address);
        return FetchHandle(new LaterDelivery({}, [done = std::move(done), page = std::move(page)] { done(page); }));
    };
}

// An answer that waits for the test: deliver() hands it over, unless the
// fetch was cancelled meanwhile.
class HeldDelivery final : public PendingFetch {
public:
    explicit HeldDelivery(std::function<void()> deliver) : m_deliver(std::move(deliver)) {}

    // False when the fetch had been cancelled: its answer is dropped.
    static bool deliver(const QPointer<HeldDelivery> &held)
    {
        if (!held || held->m_cancelled)
            return false;
        held->m_cancelled = true; // answered
        held->deleteLater();
        held->m_deliver();
        return true;
    }

private:
    std::function<void()> m_deliver;
};
