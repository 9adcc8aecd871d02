// The line settings that SerialPort puts into a Windows DCB. Internal to the
// Windows backend; a header of its own so that tests can check the mapping
// without a device.
#pragma once

#include "serial_port.h"

namespace qx480 {
namespace detail {

inline BYTE ToDcbStopBits(StopBits stopBits) {
    switch (stopBits) {
        case StopBits::One: return ONESTOPBIT;
        case StopBits::OnePointFive: return ONE5STOPBITS;
        case StopBits::Two: return TWOSTOPBITS;
    }
    return ONESTOPBIT;
}

inline BYTE ToDcbParity(Parity parity) {
    switch (parity) {
        case Parity::None: return NOPARITY;
        case Parity::Odd: return ODDPARITY;
        case Parity::Even: return EVENPARITY;
        case Parity::Mark: return MARKPARITY;
        case Parity::Space: return SPACEPARITY;
    }
    return NOPARITY;
}

// Binary line, no CTS/DSR or XON/XOFF flow control, DTR and RTS held on; every
// other field stays as the driver reported it. fParity follows the argument
// itself, so a value outside the enumeration still switches parity checking on.
inline void ApplyLineSettings(DCB& dcb, int baudRate, int dataBits, StopBits stopBits, Parity parity) {
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    dcb.Parity = ToDcbParity(parity);
    dcb.StopBits = ToDcbStopBits(stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = parity != Parity::None;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

}  // namespace detail
}  // namespace qx480
