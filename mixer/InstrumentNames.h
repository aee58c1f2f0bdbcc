#pragma once

#include <QString>

namespace tonelark {

// The General MIDI name of program 0 … 127 in Japanese ("アコースティック・ピアノ"); empty
// outside the range.
QString gmProgramName(int program);

// What the mixer shows for a channel's instrument: the program's name, "ドラム" for a drum part,
// with the bank in brackets when it is not 0:0 ("ストリングス (バンク 8:0)"); "—" before the
// channel has been sent a program.
QString instrumentText(bool programSent, int program, int bankMsb, int bankLsb, bool drum);

} // namespace tonelark
