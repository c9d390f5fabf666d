// The serial ports of Windows, through the communications API.
#include <windows.h>

#include <string>

#include "platform/port_names.h"
#include "platform/serial_device.h"

namespace kelta {
namespace {

HANDLE AsHandle(PortHandleType handle) { return reinterpret_cast<HANDLE>(handle); }

class Win32SerialDevice final : public SerialDevice {
 public:
  PortHandleType Open(int number) override {
    const std::string name = PortDeviceName(number);
    if (name.empty()) {
      last_open_error_ = OpenErrorOf(ERROR_FILE_NOT_FOUND);
      return kInvalidPortHandle;
    }
    // Share mode 0: the port is ours alone until it is closed.
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    last_open_error_ = handle == INVALID_HANDLE_VALUE
                           ? OpenErrorOf(static_cast<int>(GetLastError()))
                           : OpenError{};
    return reinterpret_cast<PortHandleType>(handle);
  }

  OpenError LastOpenError() const override { return last_open_error_; }

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

 private:
  OpenError last_open_error_;
};

// "COM7", "com7" or "\\.\COM7" as 7; 0 for anything else.
int ComNumber(std::string name) {
  if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
  const auto lower = [&](std::size_t i) { return static_cast<char>(name[i] | 0x20); };
  if (name.size() < 4 || name.size() > 6 || lower(0) != 'c' || lower(1) != 'o' || lower(2) != 'm') {
    return 0;
  }
  int number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

}  // namespace

SerialDevice& SystemSerialDevice() {
  static Win32SerialDevice device;
  return device;
}

std::unique_ptr<SerialDevice> NewSystemSerialDevice() {
  return std::make_unique<Win32SerialDevice>();
}

OpenError OpenErrorOf(int system_code) {
  OpenError error{OpenFailure::Other, system_code, {}};
  char* text = nullptr;
  if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(system_code), 0, reinterpret_cast<char*>(&text), 0,
                     nullptr) != 0 &&
      text != nullptr) {
    error.text = text;
    LocalFree(text);
    while (!error.text.empty() && (error.text.back() == '\n' || error.text.back() == '\r' ||
                                   error.text.back() == ' ' || error.text.back() == '.')) {
      error.text.pop_back();
    }
  }
  switch (system_code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
      error.kind = OpenFailure::NoDevice;
      break;
    // A COM port that another program has open refuses with "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      error.kind = OpenFailure::Busy;
      break;
    default:
      break;
  }
  return error;
}

int PortNumberOfDevice(const std::string& device) {
  const int number = ComNumber(device);
  return number >= 1 && number <= 16 ? number : 0;
}

// The device namespace form: plain "COM10" and above name no device on Windows, and the
// form works for every number alike.
std::string PortDeviceName(int number) {
  if (const auto device = PortDeviceOverride(number)) return *device;
  if (number < 0) return {};
  return "\\\\.\\COM" + std::to_string(number);
}

}  // namespace kelta
