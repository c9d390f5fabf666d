// A system library loaded when first needed rather than when the program starts, so that
// a program that never converts text or sounds a tone (qm880ctl --version) does not pay
// for loading ICU or ALSA. POSIX only.
#pragma once

#include <dlfcn.h>

namespace kelta {

class SharedLibrary {
 public:
  explicit SharedLibrary(const char* name) : handle_(dlopen(name, RTLD_NOW | RTLD_LOCAL)) {}
  ~SharedLibrary() = default;  // kept for the whole run: its functions stay in use
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // Sets `function` to the library's `name`; false when it has none.
  template <typename Function>
  bool Find(const char* name, Function*& function) const {
    function = handle_ != nullptr ? reinterpret_cast<Function*>(dlsym(handle_, name)) : nullptr;
    return function != nullptr;
  }

 private:
  void* handle_;
};

}  // namespace kelta
