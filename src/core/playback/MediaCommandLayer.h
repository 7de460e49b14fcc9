#pragma once
#include "core/playback/MediaBackend.h"
#include "core/playback/MediaControl.h"

#include <memory>

// Error codes of MediaCommandLayer::send(); 0 is success.
enum class MediaError : int {
    None = 0,
    UnknownCommand = 1, // not one of the command texts, to the letter
    NotOpen = 2,        // close/play/pause/setaudio for the alias while no device is open under it
    AliasInUse = 3,     // open while a device is already open under the alias (the old one stays)
    BadVolume = 4,      // setaudio number is not a whole decimal number in 0..1000
    CannotOpen = 5,     // open with an empty address, or one the backend refuses
};

// The media command interface over a backend: parses the command texts the
// program sends (see MediaCommands.h), keeps track of the one device under the
// alias and turns each command into a backend call. Anything it does not accept
// returns an error code and changes nothing.
//
// "open" answers 0 as soon as the backend took the address; a failure that only
// shows later (nothing answers there, the data is not audio) is passed on as the
// device's end, like the end of the audio, and the device stays open under the
// alias until it is closed, so the play and volume commands that follow still
// succeed.
class MediaCommandLayer final : public MediaControl {
public:
    explicit MediaCommandLayer(std::unique_ptr<MediaBackend> backend);
    ~MediaCommandLayer() override;
    MediaCommandLayer(const MediaCommandLayer &) = delete;
    MediaCommandLayer &operator=(const MediaCommandLayer &) = delete;

    int send(const QString &command) override;

    bool isOpen() const { return m_open; }
    MediaBackend &backend() const { return *m_backend; }

private:
    MediaError execute(const QString &command);

    std::unique_ptr<MediaBackend> m_backend;
    bool m_open = false;
};
