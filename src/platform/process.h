// The state the process starts in, made safe before the program does
// anything else.
#ifndef DORVANE_PLATFORM_PROCESS_H_
#define DORVANE_PLATFORM_PROCESS_H_

// Called first thing in main, before any output or open, with main's
// arguments. On POSIX: each of the standard descriptors 0, 1 and 2 that is
// closed is opened on /dev/null, so that the list file cannot take its
// number and receive the console output; and SIGXFSZ is ignored, so that a
// write past the file size limit fails like any other failed write instead
// of killing the run mid-line; the arguments are the system's bytes and stay
// as they are. On Windows: the arguments are replaced by the same ones in
// UTF-8, which every name can be spelled in.
void PrepareProcess(int* argc, char*** argv);

// How many processors this process may run on: those of its affinity
// mask, and on Linux no more than a cgroup CPU quota allows (rounded up).
// At least 1.
unsigned CountUsableProcessors();

// Whether argument asks for help the platform's own way, besides "--help"
// and "-h": "/?" on Windows, nothing else on POSIX.
bool IsPlatformHelpSwitch(const char* argument);

// Where the manual is, as the help text's closing sentence.
const char* ManualLocation();

#endif  // DORVANE_PLATFORM_PROCESS_H_
