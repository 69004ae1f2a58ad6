#include "links/udp_link.h"
