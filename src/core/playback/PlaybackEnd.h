#pragma once
#include <functional>

// How the open device stopped by itself.
enum class PlaybackEnd {
    Finished,   // played to its end
    CannotOpen, // never started: nothing answers at the address, it is no audio, or no sound output works
    Failed,     // broke off while playing
};

// Tells one listener when the open device stops by itself. Never for a device
// that was closed or replaced, and never from inside a call made to the
// reporter: the news comes later, from the event loop.
class PlaybackEndReporter {
public:
    using Listener = std::function<void(PlaybackEnd)>;

    void onPlaybackEnd(Listener listener) { m_listener = std::move(listener); }

protected:
    ~PlaybackEndReporter() = default;
    void reportPlaybackEnd(PlaybackEnd end) const
    {
        if (m_listener)
            m_listener(end);
    }

private:
    Listener m_listener;
};
