// Standard output of the console program, written a line at a time.
//
// The C runtime writes an unbuffered stream (a console, or any character
// device) piece by piece, and each piece costs far more than its bytes; a
// progress line would reach the screen in five or six writes. Here text is
// gathered until it ends a line and then written in one call, so a line
// reaches standard output whole, whatever standard output is.
//
// Lines are kept in UTF-16. A console gets them as they are (WriteConsoleW),
// so every name shows exactly; a file or a pipe gets the bytes that the C
// runtime's text-mode stdout would write, in the ANSI code page, with '?'
// for what the code page cannot hold.
//
// Used from the command's own thread only.
#pragma once

#include <string>

#include "../text/line_buffer.h"

namespace tw {

class Console {
public:
    // Appends text (ANSI, or UTF-16); text that ends a line is written out
    // at once, together with the rest of its line.
    void write(const char* text);
    void write(const std::string& text);
    void write(const std::wstring& text);
    void write(char c);
    // Writes out what is gathered: the start of a line the user should see
    // before something slow happens (a file being read), or anything at all
    // before a message box or the end of the process.
    void flush();
    // Ends the current line if one is open (a failure struck in it).
    void endLine();
    bool lineOpen() const { return pending_.lineOpen(); }

private:
    BasicLineBuffer<wchar_t> pending_;
};

Console& console();

}  // namespace tw
