#include "settings/option_codes.h"
