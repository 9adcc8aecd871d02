// What every backend of SerialPort shares: the choice of backend by the
// port name's form, local device or network address.
#include "serial_port.h"

#include <string>

#include "network_line.h"
#include "port_address.h"

namespace {

// A wide name that starts like a network address, as ASCII text; nothing for any other name.
bool NetworkName(const wchar_t* portName, std::string& ascii) {
    ascii.clear();
    for (const wchar_t* c = portName; *c != L'\0'; ++c) {
        if (*c < 0x20 || *c > 0x7E) return false;
        ascii += static_cast<char>(*c);
    }
    return qx480::detail::HasNetworkScheme(ascii.c_str());
}

}  // namespace

bool SerialPort::Open(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity) {
    SerialOpenError why;
    return Open(portName, baudRate, dataBits, stopBits, parity, why);
}

bool SerialPort::Open(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity) {
    SerialOpenError why;
    return Open(portName, baudRate, dataBits, stopBits, parity, why);
}

bool SerialPort::Open(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                      SerialOpenError& why) {
    Close();
    std::string ascii;
    if (portName != nullptr && NetworkName(portName, ascii)) {
        return OpenNetwork(ascii.c_str(), baudRate, dataBits, stopBits, parity, why);
    }
    return OpenLocal(portName, baudRate, dataBits, stopBits, parity, why);
}

bool SerialPort::Open(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                      SerialOpenError& why) {
    Close();
    if (qx480::detail::HasNetworkScheme(portName)) {
        return OpenNetwork(portName, baudRate, dataBits, stopBits, parity, why);
    }
    return OpenLocal(portName, baudRate, dataBits, stopBits, parity, why);
}

bool SerialPort::OpenNetwork(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                             SerialOpenError& why) {
    why = SerialOpenError::BadArgument;
    if (baudRate <= 0) return false;
    qx480::detail::OpenFailure failure;
    m_network = qx480::detail::OpenNetworkLine(portName, {baudRate, dataBits, stopBits, parity}, failure);
    why = failure.why;
    m_openFailureDetail = failure.detail;
    return m_network != nullptr;
}

void SerialPort::Close() {
    m_network.reset();
    m_openFailureDetail.clear();
    CloseLocal();
}

bool SerialPort::IsOpen() const { return m_network != nullptr || IsOpenLocal(); }

const char* SerialPort::OpenFailureDetail() const { return m_openFailureDetail.c_str(); }

SerialPort::NativeHandle SerialPort::GetHandle() const {
    if (!m_network) return GetHandleLocal();
#ifdef _WIN32
    return reinterpret_cast<HANDLE>(m_network->Handle());
#else
    return m_network->Handle();
#endif
}

int SerialPort::Read(void* buffer, int size, int timeoutMs) {
    if (!m_network) return ReadLocal(buffer, size, timeoutMs);
    if (buffer == nullptr || size <= 0) return -1;
    return m_network->Read(buffer, size, timeoutMs);
}

int SerialPort::Write(const void* buffer, int size, int timeoutMs) {
    if (!m_network) return WriteLocal(buffer, size, timeoutMs);
    if (buffer == nullptr || size <= 0) return -1;
    return m_network->Write(buffer, size, timeoutMs);
}

bool SerialPort::DiscardInput() { return m_network ? m_network->DiscardInput() : DiscardInputLocal(); }

// A network port has no driver time-outs: each Read and Write carries its own limit.
bool SerialPort::SetTimeout(int unused, int writeTimeoutMs) {
    return m_network ? true : SetTimeoutLocal(unused, writeTimeoutMs);
}

#ifdef _WIN32
bool SerialPort::SetTimeouts(const COMMTIMEOUTS& timeouts) { return m_network ? true : SetTimeoutsLocal(timeouts); }
#endif
