// The system's socket declarations the shared socket code uses (addresses, families,
// levels and option names, name lookup).
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
