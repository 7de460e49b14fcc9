#include "gui/app/FontWarmUp.h"

#include <fontconfig/fontconfig.h>

// A failed set-up is not looked at: Qt meets the same failure itself and
// reports it as it always has.
FontWarmUp::FontWarmUp() : m_thread([] { FcInit(); }) {}

FontWarmUp::~FontWarmUp()
{
    wait();
}

void FontWarmUp::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}
