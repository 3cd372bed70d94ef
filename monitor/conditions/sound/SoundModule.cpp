// The alarm-sound player as a module loaded at run time: a program that links
// no media library (the headless monitor) gets sounds from here when the
// first alarm sounds, and goes on without them where the module or the media
// libraries are missing.
#include "QtSoundPlayer.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT skyvane::conditions::SoundPlayer* skyvane_sound_player_create()
{
    return new skyvane::conditions::QtSoundPlayer();
}
