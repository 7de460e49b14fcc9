// libcurl, loaded when the first transfer needs it rather than when the
// program starts. Linked outright it brought some thirty shared libraries
// with it (TLS, Kerberos, LDAP, SSH, IDN...) and their initialisers, which
// cost every start of the window about as much as Qt takes to open its
// display, for a library the window needs only once a download begins.
//
// The download engine keeps calling libcurl by its own function names: the
// definitions below stand in for them and pass each call on to the library,
// loaded on the first call. When it cannot be loaded, the calls fail the way
// libcurl's own do when it cannot start (no handle, CURLE_FAILED_INIT), and
// the engine reports that as it reports any failed setup.
//
// A libcurl function the engine starts to use needs its line here; the link
// fails until it has one.
#include <curl/curl.h>

#include <QLibrary>
#include <QLoggingCategory>

#include <cstdarg>

namespace {

Q_LOGGING_CATEGORY(lcCurlLibrary, "kelvaro.download", QtWarningMsg)

// The soname's major version of the library the program was built against.
constexpr int LibraryMajorVersion = 4;

struct CurlLibrary {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_pause) easy_pause = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_multi_init) multi_init = nullptr;
    decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
    decltype(&::curl_multi_setopt) multi_setopt = nullptr;
    decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
    decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
    decltype(&::curl_multi_socket_action) multi_socket_action = nullptr;
    decltype(&::curl_multi_info_read) multi_info_read = nullptr;
    decltype(&::curl_multi_strerror) multi_strerror = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

template <typename Function>
bool resolve(QLibrary &library, Function &function, const char *name)
{
    function = reinterpret_cast<Function>(library.resolve(name));
    if (!function)
        qCWarning(lcCurlLibrary) << "libcurl lacks" << name;
    return function != nullptr;
}

const CurlLibrary *load()
{
    // Kept loaded for the life of the process, as a linked library would be.
    static QLibrary library(QStringLiteral("curl"), LibraryMajorVersion);
    if (!library.load()) {
        qCWarning(lcCurlLibrary) << "libcurl cannot be loaded:" << library.errorString();
        return nullptr;
    }
    static CurlLibrary api;
    const bool complete = resolve(library, api.global_init, "curl_global_init")
        && resolve(library, api.easy_init, "curl_easy_init")
        && resolve(library, api.easy_cleanup, "curl_easy_cleanup")
        && resolve(library, api.easy_setopt, "curl_easy_setopt")
        && resolve(library, api.easy_getinfo, "curl_easy_getinfo")
        && resolve(library, api.easy_pause, "curl_easy_pause")
        && resolve(library, api.easy_strerror, "curl_easy_strerror")
        && resolve(library, api.multi_init, "curl_multi_init")
        && resolve(library, api.multi_cleanup, "curl_multi_cleanup")
        && resolve(library, api.multi_setopt, "curl_multi_setopt")
        && resolve(library, api.multi_add_handle, "curl_multi_add_handle")
        && resolve(library, api.multi_remove_handle, "curl_multi_remove_handle")
        && resolve(library, api.multi_socket_action, "curl_multi_socket_action")
        && resolve(library, api.multi_info_read, "curl_multi_info_read")
        && resolve(library, api.multi_strerror, "curl_multi_strerror")
        && resolve(library, api.slist_append, "curl_slist_append")
        && resolve(library, api.slist_free_all, "curl_slist_free_all");
    return complete ? &api : nullptr;
}

const CurlLibrary *curl()
{
    static const CurlLibrary *const loaded = load();
    return loaded;
}

constexpr char NotLoaded[] = "libcurl cannot be loaded";

// The third argument of a setopt call, read as the type its option takes:
// libcurl numbers every option within the range of its argument's type.
template <typename Handle, typename Option, typename Result>
Result setOption(Result (*set)(Handle *, Option, ...), Handle *handle, Option option, va_list arguments)
{
    const int kind = int(option);
    if (kind < CURLOPTTYPE_OBJECTPOINT)
        return set(handle, option, va_arg(arguments, long));
    if (kind < CURLOPTTYPE_FUNCTIONPOINT)
        return set(handle, option, va_arg(arguments, void *));
    if (kind < CURLOPTTYPE_OFF_T)
        return set(handle, option, va_arg(arguments, void (*)()));
    if (kind < CURLOPTTYPE_BLOB)
        return set(handle, option, va_arg(arguments, curl_off_t));
    return set(handle, option, va_arg(arguments, void *));
}

} // namespace

CURLcode curl_global_init(long flags)
{
    const CurlLibrary *api = curl();
    return api ? api->global_init(flags) : CURLE_FAILED_INIT;
}

CURL *curl_easy_init()
{
    const CurlLibrary *api = curl();
    return api ? api->easy_init() : nullptr;
}

// Handles exist only when the library was loaded.
void curl_easy_cleanup(CURL *handle)
{
    if (handle)
        curl()->easy_cleanup(handle);
}

CURLcode curl_easy_setopt(CURL *handle, CURLoption option, ...)
{
    const CurlLibrary *api = curl();
    if (!api)
        return CURLE_FAILED_INIT;
    va_list arguments;
    va_start(arguments, option);
    const CURLcode result = setOption(api->easy_setopt, handle, option, arguments);
    va_end(arguments);
    return result;
}

// Every piece of information is written through a pointer.
CURLcode curl_easy_getinfo(CURL *handle, CURLINFO info, ...)
{
    const CurlLibrary *api = curl();
    if (!api)
        return CURLE_FAILED_INIT;
    va_list arguments;
    va_start(arguments, info);
    void *const target = va_arg(arguments, void *);
    va_end(arguments);
    return api->easy_getinfo(handle, info, target);
}

CURLcode curl_easy_pause(CURL *handle, int bitmask)
{
    const CurlLibrary *api = curl();
    return api ? api->easy_pause(handle, bitmask) : CURLE_FAILED_INIT;
}

const char *curl_easy_strerror(CURLcode code)
{
    const CurlLibrary *api = curl();
    return api ? api->easy_strerror(code) : NotLoaded;
}

CURLM *curl_multi_init()
{
    const CurlLibrary *api = curl();
    return api ? api->multi_init() : nullptr;
}

CURLMcode curl_multi_cleanup(CURLM *handle)
{
    const CurlLibrary *api = curl();
    return api ? api->multi_cleanup(handle) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_setopt(CURLM *handle, CURLMoption option, ...)
{
    const CurlLibrary *api = curl();
    if (!api)
        return CURLM_BAD_HANDLE;
    va_list arguments;
    va_start(arguments, option);
    const CURLMcode result = setOption(api->multi_setopt, handle, option, arguments);
    va_end(arguments);
    return result;
}

CURLMcode curl_multi_add_handle(CURLM *multi, CURL *easy)
{
    const CurlLibrary *api = curl();
    return api ? api->multi_add_handle(multi, easy) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_remove_handle(CURLM *multi, CURL *easy)
{
    const CurlLibrary *api = curl();
    return api ? api->multi_remove_handle(multi, easy) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_socket_action(CURLM *handle, curl_socket_t socket, int events, int *running)
{
    const CurlLibrary *api = curl();
    return api ? api->multi_socket_action(handle, socket, events, running) : CURLM_BAD_HANDLE;
}

CURLMsg *curl_multi_info_read(CURLM *handle, int *left)
{
    const CurlLibrary *api = curl();
    if (!api) {
        if (left)
            *left = 0;
        return nullptr;
    }
    return api->multi_info_read(handle, left);
}

const char *curl_multi_strerror(CURLMcode code)
{
    const CurlLibrary *api = curl();
    return api ? api->multi_strerror(code) : NotLoaded;
}

curl_slist *curl_slist_append(curl_slist *list, const char *text)
{
    const CurlLibrary *api = curl();
    return api ? api->slist_append(list, text) : nullptr;
}

// Lists exist only when the library was loaded.
void curl_slist_free_all(curl_slist *list)
{
    if (list)
        curl()->slist_free_all(list);
}
