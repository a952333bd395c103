// The line-settings record and the flag values the serial device shares with each system's
// port code: driver line errors, modem status and the record's flag bits.
#pragma once

#include <cstdint>

// Driver line-error flags, in the values the error decoder has always used.
constexpr uint32_t LINE_RXOVER = 0x0001;
constexpr uint32_t LINE_OVERRUN = 0x0002;
constexpr uint32_t LINE_RXPARITY = 0x0004;
constexpr uint32_t LINE_FRAME = 0x0008;
constexpr uint32_t LINE_TXFULL = 0x0100;

// Modem-status bits as ReadModemStatus returns them.
constexpr uint32_t MODEM_CTS_ON = 0x0010;
constexpr uint32_t MODEM_DSR_ON = 0x0020;
constexpr uint32_t MODEM_RING_ON = 0x0040;
constexpr uint32_t MODEM_RLSD_ON = 0x0080;

// The line-settings record: the classic 28-byte layout, computed first and then applied
// through termios, so that its fields can be checked without a port.
struct TLineSettings {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;
};
static_assert(sizeof(TLineSettings) == 28);

// Flag bits of TLineSettings::Flags.
constexpr uint32_t DCB_BINARY = 0x0001;
constexpr uint32_t DCB_PARITY = 0x0002;
constexpr uint32_t DCB_OUTX_CTS_FLOW = 0x0004;
constexpr uint32_t DCB_DTR_CONTROL_ENABLE = 0x0010;
constexpr uint32_t DCB_OUTX = 0x0100;
constexpr uint32_t DCB_INX = 0x0200;
constexpr uint32_t DCB_RTS_CONTROL_ENABLE = 0x1000;
constexpr uint32_t DCB_RTS_CONTROL_HANDSHAKE = 0x2000;
constexpr uint32_t DCB_RTS_CONTROL_TOGGLE = 0x3000;
constexpr uint32_t DCB_RTS_CONTROL_MASK = 0x3000;
