// Baud rates outside the termios table, through the kernel's termios2 interface. Kept in a
// file of its own because the kernel's termios header clashes with the C library's.
#pragma once

// Sets both directions of the open tty to baud; 0 on success, else an errno value.
int SetCustomBaud(int fd, int baud);
