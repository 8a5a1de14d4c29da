#pragma once
// The removal object of the older-suite path: its own log and options.

#include "LogFile.h"

class reloUni {
public:
    reloUni();

    // Parses the process command line. Returns false if help was requested.
    bool logdataClobber();
    // The same on a given command line (as the process holds it).
    bool logdataClobber(const wchar_t* commandLine);

    bool CompleteCleanup() const { return completeCleanup_ != 0; }
    CLogFile& Log() { return log_; }

    // Runs every removal step of the older suite in its order; no step stops
    // the others.
    void removeProduct();

private:
    CLogFile log_;
    unsigned char completeCleanup_ = 0;  // product data logs are deleted as well
};
