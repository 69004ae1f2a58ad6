#include "protocol/command_frame.h"
