// Keeping the system, the display and the screen saver at bay.
#pragma once

void BeginKeepAwake();
void KeepAwakeTick();
void EndKeepAwake();
