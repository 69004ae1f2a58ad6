#include "links/serial_link.h"
