// The icon of a message box. Apart from the seam (messages.h) so that code
// without widgets (the player) can say how its failures are to be shown.
#pragma once

enum class MessageIcon { None, Warning, Information, Error };
