#include "protocol/reply_assembler.h"
