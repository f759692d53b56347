// The command driver: modes, the list file, and the usage text.
#ifndef DORVANE_CLI_DRIVER_H_
#define DORVANE_CLI_DRIVER_H_

#include "cli/progress.h"
#include "digest/hash_queue.h"
#include "listing/selection.h"
#include "platform/win32.h"

enum RunMode { ModeNone = 0, ModeCreate = 1, ModeAppend = 2, ModeTest = 3 };

// "c", "a" or "t" in either case, the whole argument; ModeNone otherwise.
RunMode ModeFromCommand(const char* command);

// Exit statuses: 1 for usage, open, read and write failures, as always; 2
// for a test that found failing files, so that a script can tell.
constexpr int ExitClean = 0;
constexpr int ExitTrouble = 1;
constexpr int ExitFilesFailed = 2;

// What the long options after the command letter ask for.
struct RunOptions {
  Selection selection;  // --exclude PATTERN, --part K/N
  const char* audit;    // --audit FILE ("-": standard output); null: none
  bool roots;           // --roots
  bool ignore_missing;  // --ignore-missing
};

// The most names a run takes after its options: FileName and StartDir;
// more are ignored, as they always were.
constexpr int MaxRunNames = 2;

// Reads the arguments after the command letter: the long options, in
// either "--name value" or "--name=value" form, anywhere among the names
// until a "--", and the names in order (names[0] the list, names[1] the
// start directory; *name_count of them, the rest ignored). An option
// unknown, without its value, with a bad one, or not one of mode's, is
// told on standard error; false then.
bool ReadRunArguments(RunMode mode, int argc, char** argv, RunOptions* options,
                      const char** names, int* name_count);

// Prints the options for --help.
void PrintOptionsText();

// "--help", "-h" and the platform's own help switch; "--version", "-V".
bool IsHelpArgument(const char* argument);
bool IsVersionArgument(const char* argument);

// Whether directory names a directory that can be made current; the
// current directory is left as it was.
bool CanEnterDirectory(const char* directory);

// Opens the list file of a test, an existing file, for reading without
// sharing. INVALID_HANDLE_VALUE on failure. (Create and append write a new
// version of the list beside it: platform/new_version.h.)
HANDLE OpenListFile(const char* file_name);

enum ListingResult {
  ListingWritten,
  ListingNoDirectory,
  ListingWriteFailed,
  ListingNoHandle,
  ListingNoMemory,
};

// Create and append: writes one section (ROOT line and the walk of
// start_dir, which may be null) to list_file, the new version of the list,
// and restores the current directory; prints "invalid directory: ..." when
// start_dir cannot be made current, writing nothing (ListingNoDirectory).
// old_list is the old version, when there is one: append first copies it
// to list_file once start_dir is current (without old_list, append adds to
// what list_file holds), and the walk never lists it. The files are hashed
// as plan says, on the storage the start directory lies on; progress, when
// given, shows the walk and is erased at its end. ListingWriteFailed when
// the copy or a write to list_file failed (the walk stops at the first
// failed write), ListingNoHandle when handles ran out for good,
// ListingNoMemory when memory the walk needed could not be had (the walk
// stops there too); the current directory is restored all the same.
// selection, when given, leaves entries out and lists one part alone.
[[nodiscard]] ListingResult RunListing(RunMode mode, HANDLE list_file, const char* start_dir,
                                       const HashPlan& plan, Progress* progress = nullptr,
                                       HANDLE old_list = INVALID_HANDLE_VALUE,
                                       const Selection* selection = nullptr);

// The test command: verifies the open list, hashing as plan says, and
// prints "errors:" with the failing paths, then "cannot read file" if the
// list could not be read to its end, or "too many open files" if a file
// could not be opened for lack of handles (the check stops there). A listed
// name that is no regular file, or that leads out of the current
// directory, fails without being opened. progress, when given, shows the
// test and is erased before the report. Returns ExitTrouble after such a
// read error, lack of handles, or when a line of the report could not be
// written, or when memory the test needed could not be had (standard
// error says so; the report holds the failures found before), and
// ExitFilesFailed when a file failed (a report cut at its size has),
// ExitClean otherwise. A list in which no FILE line could be read
// checked nothing: standard error says so, naming list_name and what the
// list looks like where that can be told, and the result is ExitTrouble.
// When most listed files are missing, standard error says so and names
// the directory the list was made in.
//
// options, when given, check this part's files alone, each section below
// its own directory, or leave missing files unreported (a test in which
// no file was found then checked nothing, ExitTrouble); an audit is written
// to report (standard output for "-") before the report above, and
// ExitFilesFailed is the result whenever it holds more than "=" lines. A
// report that could not be written whole is ExitTrouble.
[[nodiscard]] int RunTest(HANDLE list_file, const char* list_name, const HashPlan& plan,
                          Progress* progress = nullptr, const RunOptions* options = nullptr,
                          HANDLE report = INVALID_HANDLE_VALUE);

// Says on standard error that the run stops for want of memory.
void TellNoMemory();

// Prints the usage text.
void PrintUsageText();

// Prints the usage text and waits for a key.
void PrintUsage();

#endif  // DORVANE_CLI_DRIVER_H_
