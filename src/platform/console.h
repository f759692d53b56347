// The console services every platform provides: output, and the key wait
// that ends every run.
#ifndef DORVANE_PLATFORM_CONSOLE_H_
#define DORVANE_PLATFORM_CONSOLE_H_

// Formatted print to standard output as a text stream: every "\n" goes out
// as CR LF, also when the output is redirected, and the message is flushed
// before the call returns. Returns true when all of it was written. Most
// messages go out whatever happens, so the result may be ignored.
bool ConsolePrint(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Formatted print of a message for people to standard error, whatever
// standard error is: the reasons and warnings that must never mix into
// standard output. Lines end as the platform's do ("\n" on POSIX, CR LF on
// Windows). Written at once; true when all of it was written.
bool ConsoleWarn(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Waits for one key press at the console, without echo, and puts the
// console's input mode back afterwards. Waits only where the prompt before
// it can be seen and answered: standard output is the console (POSIX: the
// controlling terminal) and the program runs in its foreground. Returns at
// once otherwise: no console at all, output to a pipe or a file, or
// (POSIX) a background job.
void WaitForKey();

// The width in columns of the terminal (a console on Windows) that standard
// error writes to, when it is one and (POSIX) the program runs in its
// foreground; 0 otherwise, and then no status line is shown.
int StatusLineColumns();

// Replaces the status line on standard error with text, which must be
// shorter than StatusLineColumns(); an empty text erases it. With stays the
// line is ended and stays on the screen. The cursor is kept at the line's
// start and the whole screen below it is erased too: a terminal that
// rewraps its lines when it is narrowed (tmux, most emulators) spreads a
// line drawn at the old width over the rows below its first one, and
// leaves the cursor on that first row; one that cuts them (xterm) keeps the
// row. Either way no row above the cursor is touched.
void WriteStatusLine(const char* text, bool stays);

#endif  // DORVANE_PLATFORM_CONSOLE_H_
