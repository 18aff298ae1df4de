#pragma once

namespace torvane {

// Plays one of the program's sounds (132, 140, 163) and returns at once. A missing sound or a
// machine without audio plays nothing and reports nothing.
void PlayWaveResource(int soundId);

}  // namespace torvane
