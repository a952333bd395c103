// The system's socket declarations the shared socket code uses (addresses, families,
// levels and option names, name lookup): Windows Sockets 2.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
