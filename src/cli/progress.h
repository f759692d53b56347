// The status line that shows a run's progress on a terminal, and the
// summary line that stays after it.
#ifndef DORVANE_CLI_PROGRESS_H_
#define DORVANE_CLI_PROGRESS_H_

#include <chrono>
#include <cstdint>

#include "listing/run_counts.h"
#include "verify/field_reader.h"
#include "verify/list_sizes.h"

struct Progress {
  RunCounts counts;
  bool watched;  // standard error is a terminal: the lines are shown
  bool shown;    // a status line is on the screen
  bool testing;  // the test command: files checked, the share done
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point next_draw;
  ListReader* reader;  // the list the test reads; may be null
  ListSizes sizes;     // the list's total, scanned once the line shows
};

// Starts the clock. Nothing is ever shown when standard error is not a
// terminal; otherwise the status line appears once the run has lasted a
// second, and is redrawn at most ten times a second, as files are counted
// and while the run waits for files being read. A run that writes a
// report to standard output as it goes (output_busy) shows none either:
// on a terminal the two would share the screen.
void StartProgress(Progress* progress, bool testing, bool output_busy = false);

// The counts for the walk or the test to update. They are kept whether or
// not the status line is shown; the messages they take go to standard
// error through ShowProgressMessage.
RunCounts* ProgressCounts(Progress* progress);

// The test reads this list: the status line shows the share of the test
// done and the time left, by the bytes its FILE lines give, or by their
// number where the bytes do not tell (all files empty, or more read than
// listed), once a scan through the reader's handle, begun when the line
// shows, has read them all. A scan that cannot put the list's position
// back sets reader->failed.
void FollowListReading(Progress* progress, ListReader* reader);

// Erases the status line, if one is shown; called before anything else is
// printed, so that the screen holds what it would without it.
void EndProgress(Progress* progress);

// For a message during the run, from the thread that counts: erases the
// status line if one is shown, writes text and a line end to standard
// error (a terminal or not), and lets the next draw bring the line back.
// progress may be null.
void ShowProgressMessage(Progress* progress, const char* text);

// Prints the line that stays: what was listed or checked, the bytes and the
// time, as much of it as the terminal's width holds, and a line on the
// storage when a read waited for the device, when standard error is a
// terminal; elsewhere the number of entries a create or append left
// out, if any.
void PrintRunSummary(Progress* progress);

#endif  // DORVANE_CLI_PROGRESS_H_
