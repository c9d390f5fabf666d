// The serial ports of Windows, through the communications API.
#include "platform/serial_device.h"

#include <windows.h>

#include <string>

namespace kelta {
namespace {

HANDLE AsHandle(PortHandleType handle) { return reinterpret_cast<HANDLE>(handle); }

class Win32SerialDevice final : public SerialDevice {
 public:
  PortHandleType Open(int number) override {
    const std::string name = PortDeviceName(number);
    if (name.empty()) return kInvalidPortHandle;
    // Share mode 0: the port is ours alone until it is closed.
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    return reinterpret_cast<PortHandleType>(handle);
  }

  bool GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) override {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(AsHandle(handle), &t)) return false;
    timeouts.ReadIntervalTimeout = t.ReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    timeouts.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    return true;
  }

  bool SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) override {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return SetCommTimeouts(AsHandle(handle), &t) != FALSE;
  }

  bool ApplyMode(PortHandleType handle, std::string_view mode) override {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(AsHandle(handle), &dcb)) return false;
    const std::string text(mode);
    // A string BuildCommDCBA rejects may have changed part of the record already:
    // nothing is written then, so the port keeps all its settings.
    if (!BuildCommDCBA(text.c_str(), &dcb)) return false;
    // The reader uses neither software nor hardware flow control. BuildCommDCBA turns
    // them off for this form of string, but a port left with handshaking by another
    // program must not keep it whatever the string's form.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
      dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fBinary = TRUE;  // Windows supports no other mode
    return SetCommState(AsHandle(handle), &dcb) != FALSE;
  }

  bool Purge(PortHandleType handle) override {
    return PurgeComm(AsHandle(handle),
                     PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
  }

  bool Write(PortHandleType handle, const std::uint8_t* data, int count) override {
    // With no write time-out a synchronous write hands over everything, but a driver may
    // still report a part: the rest follows, and a write that moves nothing ends it.
    while (count > 0) {
      DWORD written = 0;
      if (!WriteFile(AsHandle(handle), data, static_cast<DWORD>(count), &written, nullptr) ||
          written == 0) {
        return false;
      }
      data += written;
      count -= static_cast<int>(written);
    }
    return true;
  }

  int Read(PortHandleType handle, std::uint8_t* place) override {
    DWORD read = 0;
    if (!ReadFile(AsHandle(handle), place, 1, &read, nullptr)) {
      // A converter pulled out fails every read at once: the read still takes its
      // 1 ms time-out, so that the reply wait and tag reading do not spin.
      ::Sleep(1);
      return 0;
    }
    return read == 1 ? 1 : 0;
  }

  void Close(PortHandleType handle) override { CloseHandle(AsHandle(handle)); }
};

}  // namespace

SerialDevice& SystemSerialDevice() {
  static Win32SerialDevice device;
  return device;
}

// The device namespace form: plain "COM10" and above name no device on Windows, and the
// form works for every number alike.
std::string PortDeviceName(int number) {
  if (number < 0) return {};
  return "\\\\.\\COM" + std::to_string(number);
}

}  // namespace kelta
