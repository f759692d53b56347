// The number of threads a run would hash with.
#ifndef DORVANE_CLI_THREAD_COUNT_H_
#define DORVANE_CLI_THREAD_COUNT_H_

constexpr char ThreadsVariable[] = "DORVANE_THREADS";

// DORVANE_THREADS when it is a number from 1 to 64, otherwise 1.
unsigned DefaultThreadCount();

#endif  // DORVANE_CLI_THREAD_COUNT_H_
