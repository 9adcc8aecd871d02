// What both backends of SerialPort share.
#include "serial_port.h"

bool SerialPort::Open(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity) {
    SerialOpenError why;
    return Open(portName, baudRate, dataBits, stopBits, parity, why);
}

bool SerialPort::Open(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity) {
    SerialOpenError why;
    return Open(portName, baudRate, dataBits, stopBits, parity, why);
}
