// The terminal a command-line program writes to.
#pragma once

namespace kelta {

// Makes the console show the program's UTF-8 output as text (a Windows console takes
// the system's code page otherwise); elsewhere the terminal does already.
void UseUtf8Console();

// For a window program that prints (its --help and --version): on Windows, where such a
// program starts without a console, output that goes nowhere goes to the console of the
// program that started it (a command prompt), when there is one. Output already sent to a
// file or a pipe stays there. Elsewhere nothing to do.
void AttachParentConsole();

}  // namespace kelta
