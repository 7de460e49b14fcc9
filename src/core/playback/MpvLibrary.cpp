#include "core/playback/MpvLibrary.h"

#include <QLibrary>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPlayback)

namespace {

// The major version of the client API the program was built against.
constexpr int LibraryMajorVersion = MPV_CLIENT_API_VERSION >> 16;

template <typename Function>
bool resolve(QLibrary &library, Function &function, const char *name)
{
    function = reinterpret_cast<Function>(library.resolve(name));
    if (!function)
        qCWarning(lcPlayback) << "libmpv lacks" << name;
    return function != nullptr;
}

MpvLibrary *load()
{
    // Kept loaded for the life of the process, as a linked library would be.
    static QLibrary library(QStringLiteral("mpv"), LibraryMajorVersion);
    if (!library.load()) {
        qCWarning(lcPlayback) << "libmpv cannot be loaded:" << library.errorString();
        return nullptr;
    }
    static MpvLibrary api;
    const bool complete = resolve(library, api.mpv_create, "mpv_create")
        && resolve(library, api.mpv_initialize, "mpv_initialize")
        && resolve(library, api.mpv_terminate_destroy, "mpv_terminate_destroy")
        && resolve(library, api.mpv_set_option_string, "mpv_set_option_string")
        && resolve(library, api.mpv_request_log_messages, "mpv_request_log_messages")
        && resolve(library, api.mpv_observe_property, "mpv_observe_property")
        && resolve(library, api.mpv_set_wakeup_callback, "mpv_set_wakeup_callback")
        && resolve(library, api.mpv_wait_event, "mpv_wait_event")
        && resolve(library, api.mpv_error_string, "mpv_error_string")
        && resolve(library, api.mpv_command_async, "mpv_command_async")
        && resolve(library, api.mpv_set_property_async, "mpv_set_property_async");
    return complete ? &api : nullptr;
}

} // namespace

const MpvLibrary *MpvLibrary::get()
{
    static const MpvLibrary *loaded = load();
    return loaded;
}
