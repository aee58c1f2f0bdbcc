#pragma once

#include "Settings.h"

#include <QString>

#include <functional>

// Applying the settings dialog's values when the user confirms it: the order of the writes,
// which keys are written only when changed and which always, and what the user is told.
namespace tonelark {

class Convex;
class Engine;
class Ui;

// What applying reaches in the main window besides the engine, the store and the user.
class PrefWindow {
public:
    virtual ~PrefWindow() = default;
    // Grabs the global hot key with the stored CombinationWithWinKey; false when refused.
    virtual bool RegHotKey(quint16 ShortCut) = 0;
    virtual void setGaugeColors(const Settings::ProgressKeys &colors) = 0;
    virtual void ApplyInfoBoxStyle(qint32 Style) = 0;
    virtual void SetContextMenuMode(bool UseCompactMenu) = 0;
};

struct PrefApplyContext {
    Convex &ini;
    Settings &settings; // the program-wide values; changed in place
    Engine &engine;
    Ui &ui;
    PrefWindow &window;
    // Whether the engine state of the last poll is play or pause; asked only after every
    // box of the applying, since a song may be handed over while one is open.
    std::function<bool()> playingOrPaused;
};

// The warning when the new hot key cannot be grabbed.
QString hotKeyRefusedMessage();
// Why a chosen SoundFont is not taken (the engine's answer to setSoundFont), naming the file.
QString soundFontRefusedMessage(const QString &fileName, qint32 engineResult);

// Applies `edited` (the program-wide values with the dialog's changes) in the fixed order:
// mode, hot key, play options, window options, device and SoundFont, seek bar unit, file
// dialog, SysEx, seek bar colours, then the keys written on every OK, the save and the
// notice about options that take effect at the next play. A failed save shows its message
// and ends the applying; what was stored before stays in effect for the run. The hot key
// warning and the SoundFont error wait until every value is stored: a song handed over
// while a box is open then plays with the options being applied.
// Returns ChangedPlayOptions.
QString applyPreferences(const Settings &edited, const PrefApplyContext &context);

} // namespace tonelark
