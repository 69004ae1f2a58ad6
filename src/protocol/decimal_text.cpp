#include "protocol/decimal_text.h"
