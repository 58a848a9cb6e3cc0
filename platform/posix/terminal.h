// Linux stand-in only: the terminal that stands in for the console window
// and the file-open dialog. Standard input is read by the main thread's
// message loop, which hands each line either to the console's buttons or to
// a file-open question of the worker thread.
#pragma once

#include <string>

namespace kalvora::terminal {

// Code page 932 text as UTF-8 for the terminal; CR LF becomes one line break.
// Bytes that are no code page 932 character show as '?'.
std::string FromCp932(const char* text);

// Writes the text to standard output in one piece, so that the threads'
// outputs do not mix.
void Write(const std::string& text);

// Asks question and gives the next line of input, without its line break.
// False when the input has ended. Called on the worker thread.
bool AskLine(const std::string& question, std::string* line);

}  // namespace kalvora::terminal
