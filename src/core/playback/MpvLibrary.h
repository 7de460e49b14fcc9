#pragma once
#include <mpv/client.h>

// libmpv, loaded when it is first needed rather than when the program starts.
// It brings some two hundred shared libraries with it (decoders, demuxers,
// filters); linking it outright made the window take several times longer to
// appear than a bare Qt window does. The functions keep libmpv's own names.
struct MpvLibrary {
    decltype(&::mpv_create) mpv_create = nullptr;
    decltype(&::mpv_initialize) mpv_initialize = nullptr;
    decltype(&::mpv_terminate_destroy) mpv_terminate_destroy = nullptr;
    decltype(&::mpv_set_option_string) mpv_set_option_string = nullptr;
    decltype(&::mpv_request_log_messages) mpv_request_log_messages = nullptr;
    decltype(&::mpv_observe_property) mpv_observe_property = nullptr;
    decltype(&::mpv_set_wakeup_callback) mpv_set_wakeup_callback = nullptr;
    decltype(&::mpv_wait_event) mpv_wait_event = nullptr;
    decltype(&::mpv_error_string) mpv_error_string = nullptr;
    decltype(&::mpv_command_async) mpv_command_async = nullptr;
    decltype(&::mpv_set_property_async) mpv_set_property_async = nullptr;

    // The library, loaded on the first call; nullptr when it cannot be loaded
    // or lacks one of the functions above. Call on the GUI thread.
    static const MpvLibrary *get();
};
