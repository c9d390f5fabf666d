// The serial ports of Windows, through the communications API.
//
// The port's DCB is saved at open and put back at close, beside the time-outs the channel
// gives back itself, so that the next program finds the port in its own mode.
//
// A lost port: a USB converter pulled out fails every call with one of a handful of errors
// (which one depends on the driver). A read or write that fails with one of them, on a
// port that then fails ClearCommError too, marks the handle lost: Read says kPortLost at
// once from then on, and Write fails. A read or write that fails on a port ClearCommError
// still answers is a line error the driver held the port for, not a lost port.
#include <windows.h>

#include <map>
#include <string>

#include "platform/port_names.h"
#include "platform/serial_device.h"

namespace kelta {
namespace {

// mingw-w64's headers lack it.
constexpr DWORD kErrorNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE

HANDLE AsHandle(PortHandleType handle) { return reinterpret_cast<HANDLE>(handle); }

bool LostError(DWORD error) {
  switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    // Some USB serial drivers, after a removal.
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
      return true;
    default:
      return false;
  }
}

// Whether the port still answers; also clears a line error that stopped its reads and
// writes (fAbortOnError of a port another program set up).
bool StillThere(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT status{};
  return ClearCommError(handle, &errors, &status) != FALSE;
}

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
    if (handle == INVALID_HANDLE_VALUE) {
      last_open_error_ = OpenErrorOf(static_cast<int>(GetLastError()));
      return kInvalidPortHandle;
    }
    last_open_error_ = {};
    const auto h = reinterpret_cast<PortHandleType>(handle);
    Handle& state = handles_[h];
    state = Handle{};
    state.saved.DCBlength = sizeof(state.saved);
    state.has_saved = GetCommState(handle, &state.saved) != FALSE;
    return h;
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
    // An empty string, which BuildCommDCBA takes as "change nothing", applies no mode.
    if (mode.empty()) return false;
    const std::string text(mode);
    // A string BuildCommDCBA rejects may have changed part of the record already:
    // nothing is written then, so the port keeps all its settings.
    if (!BuildCommDCBA(text.c_str(), &dcb)) return false;
    // The reader uses neither software nor hardware flow control. BuildCommDCBA turns
    // them off for this form of string, but a port left with handshaking by another
    // program must not keep it whatever the string's form: no XON/XOFF, no RTS/CTS, no
    // DSR/DTR, and RTS and DTR simply raised (a converter may draw its power from them).
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fBinary = TRUE;  // Windows supports no other mode
    // A parity or framing error (every probe in a wrong mode) must not stop the port.
    dcb.fAbortOnError = FALSE;
    return SetCommState(AsHandle(handle), &dcb) != FALSE;
  }

  bool Purge(PortHandleType handle) override {
    return PurgeComm(AsHandle(handle),
                     PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
  }

  bool Write(PortHandleType handle, const std::uint8_t* data, int count) override {
    if (IsLost(handle)) return false;
    if (count <= 0) return true;
    // Under the channel's write time-out a write that returns with only part of the
    // bytes has run out of time (a stalled transmit): it has failed, and is not retried.
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle), data, static_cast<DWORD>(count), &written, nullptr)) {
      NoteFailure(handle, GetLastError());
      return false;
    }
    return written == static_cast<DWORD>(count);
  }

  int Read(PortHandleType handle, std::uint8_t* place) override {
    if (IsLost(handle)) return kPortLost;
    DWORD read = 0;
    if (!ReadFile(AsHandle(handle), place, 1, &read, nullptr)) {
      if (NoteFailure(handle, GetLastError())) return kPortLost;
      // Any other failure still takes the 1 ms time-out, so that the reply wait and tag
      // reading do not spin.
      ::Sleep(1);
      return 0;
    }
    return read == 1 ? 1 : 0;
  }

  void Close(PortHandleType handle) override {
    if (const auto it = handles_.find(handle); it != handles_.end()) {
      if (it->second.has_saved) SetCommState(AsHandle(handle), &it->second.saved);
      handles_.erase(it);
    }
    CloseHandle(AsHandle(handle));
  }

 private:
  struct Handle {
    DCB saved{};  // the port's settings at open
    bool has_saved = false;
    bool lost = false;
  };

  bool IsLost(PortHandleType handle) const {
    const auto it = handles_.find(handle);
    return it != handles_.end() && it->second.lost;
  }

  // True when `error` of a read or write means the port has gone; the handle stays lost.
  bool NoteFailure(PortHandleType handle, DWORD error) {
    if (!LostError(error) || StillThere(AsHandle(handle))) return false;
    if (const auto it = handles_.find(handle); it != handles_.end()) it->second.lost = true;
    return true;
  }

  // Per open handle; all calls come from the window's thread.
  std::map<PortHandleType, Handle> handles_;
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
