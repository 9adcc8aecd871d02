// PLACEHOLDER: replaced by the POSIX termios backend.
#include "serial_port.h"
SerialPort::SerialPort() : m_fd(-1) {}
SerialPort::~SerialPort() { Close(); }
bool SerialPort::Open(const wchar_t*, int, int, StopBits, Parity) { return false; }
bool SerialPort::Open(const char*, int, int, StopBits, Parity) { return false; }
void SerialPort::Close() {}
bool SerialPort::IsOpen() const { return m_fd != -1; }
SerialPort::NativeHandle SerialPort::GetHandle() const { return m_fd; }
int SerialPort::Read(void*, int, int) { return -1; }
int SerialPort::Write(const void*, int, int) { return -1; }
bool SerialPort::DiscardInput() { return false; }
bool SerialPort::SetTimeout(int, int) { return false; }
