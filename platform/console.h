// The terminal a command-line program writes to.
#pragma once

namespace kelta {

// Makes the console show the program's UTF-8 output as text (a Windows console takes
// the system's code page otherwise); elsewhere the terminal does already.
void UseUtf8Console();

}  // namespace kelta
