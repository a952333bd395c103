// Linux's errno values and name-lookup results as the Windows Sockets numbers the socket
// layer speaks.
#pragma once

// An errno value as its Windows Sockets number.
int ErrnoToSockError(int err);
// A getaddrinfo result as its Windows Sockets number (0 stays 0); savedErrno serves
// EAI_SYSTEM.
int AddrInfoToSockError(int result, int savedErrno);
