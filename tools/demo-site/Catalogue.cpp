#include "Catalogue.h"

#include "core/endpoints/Endpoints.h"

#include <stdexcept>

namespace demo {

namespace {

std::string web(std::string_view path)
{
    std::string address = "http://";
    address += Endpoints::WebHost;
    address += path;
    return address;
}

} // namespace

const Singer *findSinger(std::string_view uid)
{
    for (const Singer &singer : Singers)
        if (singer.uid == uid)
            return &singer;
    return nullptr;
}

const Work *findWork(std::string_view id)
{
    for (const Work &work : Works)
        if (work.id == id)
            return &work;
    return nullptr;
}

const Singer &singerOf(const Work &work)
{
    if (const Singer *singer = findSinger(work.singerUid))
        return *singer;
    throw std::logic_error("a work names a singer the catalogue does not hold");
}

std::vector<const Work *> worksOf(std::string_view singerUid)
{
    std::vector<const Work *> works;
    for (const Work &work : Works)
        if (work.singerUid == singerUid)
            works.push_back(&work);
    return works;
}

const Work &firstWork(PageLayout layout)
{
    for (const Work &work : Works)
        if (work.layout == layout)
            return work;
    throw std::logic_error("the catalogue holds no page of that layout");
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to)
{
    if (from.empty())
        return text;
    std::string result;
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, start)) {
        result.append(text, start, at - start);
        result += to;
        start = at + from.size();
    }
    result.append(text, start, std::string::npos);
    return result;
}

std::string pageAddress(const Work &work)
{
    return web("/s/" + std::string(work.token));
}

std::string homeAddress(const Singer &singer)
{
    return web("/u/" + std::string(singer.uid));
}

std::string playServiceAddress(std::string_view id)
{
    return std::string(Endpoints::PlayUrlService) + std::string(id);
}

std::string avatarAddress(const Singer &singer)
{
    return web("/static/avatar/" + std::string(singer.uid) + ".png");
}

std::string audioHost(const Work &work)
{
    return std::string(work.mediaHost) + Endpoints::MediaHostTail;
}

std::string audioAddress(const Work &work)
{
    // Seven "/"-separated fields: "http:", "", host, "userwork", year, "a<n+108>", "<id>.mp3".
    return "http://" + audioHost(work) + "/userwork/" + std::string(work.year) + "/a"
        + std::to_string(work.hostNumber + 108) + "/" + std::string(work.id) + ".mp3";
}

std::string rebuiltAudioHost(const Work &work)
{
    return "a" + std::to_string(work.hostNumber) + Endpoints::MediaHostTail;
}

std::string rebuiltAudioAddress(const Work &work)
{
    const std::string_view id = work.id;
    const std::string_view folder = id.size() > 3 ? id.substr(id.size() - 3) : id;
    return "http://" + rebuiltAudioHost(work) + "/userdata/userwork/" + std::string(folder) + "/" + std::string(id)
        + ".mp3";
}

std::string headAddress(const Work &work)
{
    return web("/static/head/100/" + std::string(work.id) + "_100x100.png");
}

std::string headPictureAddress(const Work &work)
{
    return replaceAll(headAddress(work), "100", "640");
}

std::string playerAddress(const Work &work)
{
    return web("/mv/player.js?wid=" + std::string(work.id) + "&amp;autoplay=1");
}

std::string playerScriptAddress(const Work &work)
{
    return replaceAll(playerAddress(work), "&amp;", "&");
}

std::string photoAddress(const Work &work)
{
    switch (work.layout) {
    case PageLayout::MusicVideo:
        return playerAddress(work);
    case PageLayout::Sparse:
        return {};
    case PageLayout::Ordinary:
        break;
    }
    return avatarAddress(singerOf(work));
}

} // namespace demo
