#include "settings/settings_codec.h"
