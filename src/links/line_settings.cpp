#include "links/line_settings.h"
