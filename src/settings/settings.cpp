// Settings state. Loading and saving "Orvale.INI" are added here.
#include "settings/settings.h"

Settings g_settings;
LiveHeadCopies g_liveHead;
