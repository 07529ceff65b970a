/* Resource numbers shared by quenbrook.rc and the window code. */
#pragma once
#define QUENBROOK_ICON 1
#define QUENBROOK_HAND_CURSOR 2
