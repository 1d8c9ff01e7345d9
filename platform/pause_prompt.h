#pragma once

// The prompt of the console's final key press where the program prints it itself, as cmd's
// "pause" prints it on Windows.
constexpr const char* kPausePrompt = "Press any key to continue . . . ";
