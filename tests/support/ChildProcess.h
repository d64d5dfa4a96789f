// The programs of this build run as child processes of a test: started with
// their own arguments, environment and working folder, optionally driven
// through their standard input and output, and never outliving the test
// (a child still running when its object goes, or when the test process
// dies, is killed).
//
// Threads: a TChildProcess belongs to the thread that made it; the
// descriptors it hands out may be read and written from another thread.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace ostra::testsupport {

struct TChildOptions {
    std::vector<std::string> Args;   // after the program's own name
    std::vector<std::string> Set;    // "NAME=value", replacing any inherited NAME
    std::vector<std::string> Unset;  // names left out of the inherited environment
    std::string WorkDir;             // empty: this process's
    bool Pipes = false;              // standard input and output through Input()/Output()
    std::string StdoutFile;          // without Pipes: standard output into this file
    std::string StderrFile;          // standard error into this file (empty: inherited)
    rlim_t FdLimit = 0;              // the child's limit of descriptors (0: inherited)
    rlim_t SoftFdLimit = 0;          // only its soft limit, the hard one kept (0: inherited)
};

// How a child process ended: the exit code it gave, the signal that ended
// it, or that it outlived the patience given and was killed. It equals an
// exit code only when the child exited with that code, and prints itself in
// words ("exited with 1", "ended by signal SIGKILL"), followed by Details:
// what the program's wrapper adds for a reader of a failed test (the
// child's standard error, the last lines of its log).
struct TChildEnd {
    enum class THow { NeverStarted, Exited, Signalled, Outlived };
    THow How = THow::NeverStarted;
    int Code = 0;  // the exit code, or the number of the signal
    bool CoreDumped = false;
    std::string Details;

    // From the status that waitpid reported.
    static TChildEnd FromStatus(int Status);
    bool operator==(int ExitCode) const { return How == THow::Exited && Code == ExitCode; }
    // "exited with 0", "ended by signal SIGSEGV (11), core dumped", ...
    std::string Describe() const;
};
std::ostream& operator<<(std::ostream& Out, const TChildEnd& End);

// "SIGKILL" for 9; "signal 99" for a number no signal has.
std::string SignalName(int Number);

// The last Count lines of each log (".LOG" file) in Folder, each under its
// file's name: what a test shows of a program that ended otherwise than it
// expected.
std::string LogTails(const std::string& Folder, std::size_t Count);

class TChildProcess {
  public:
    TChildProcess(const std::string& Program, const TChildOptions& Options = {});
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return Pid_; }
    // False once the child has ended (or was never started).
    bool Running();
    // SIGKILL, and waits for the end.
    void Kill();
    // Closes the child's standard input and waits for its end (or takes the
    // one that Running or Kill saw); a child still running after Patience
    // is killed.
    TChildEnd Finish(std::chrono::seconds Patience = std::chrono::seconds(60));

    // With Pipes: the child's standard input (write) and output (read).
    int Input() const { return Input_; }
    int Output() const { return Output_; }

  private:
    pid_t Pid_ = -1;
    int Input_ = -1, Output_ = -1;
    TChildEnd End_;  // once the child has ended
};

// Runs a program (Args[0]) to its end.
TChildEnd RunProgram(const std::vector<std::string>& Args);
// Runs a command line through the shell; its standard output, and in Status
// (when given) what pclose reports.
std::string Shell(const std::string& Command, int* Status = nullptr);
// Text quoted for the shell.
std::string Quoted(const std::string& Text);

// Runs Body in a child process as a user whom permission bits bind, for
// tests of files that a user may not read or write: when this process is
// root, the child first drops to user and group 65534. Folder is the test's
// own, open to that user; Reach lists further files the child must read.
// Body's result (0 to 99) is the child's exit code, and comes back in Code;
// when no such user is to be had here, Code is empty and Why says why.
struct TBoundUserRun {
    std::optional<int> Code;
    std::string Why;
};
TBoundUserRun RunAsBoundUser(const std::string& Folder, const std::function<int()>& Body,
                             const std::vector<std::string>& Reach = {});

// Polls until Done() holds, for at most Seconds (a generous safety limit: a
// service that never gets there fails; it is not a timing condition).
template <class Pred>
bool Eventually(Pred Done, int Seconds = 60) {
    const auto Until = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    while (!Done()) {
        if (std::chrono::steady_clock::now() > Until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// Waits until something accepts connections on Port; false when Child ended
// first or nothing came within the safety limit.
bool WaitUntilListening(uint16_t Port, TChildProcess& Child);

// The TCP ports on which the process Pid has a listening socket of its own
// now, as /proc tells (its descriptors matched with the system's socket
// table); sockets it shares with this process are left out.
std::vector<uint16_t> ListeningPorts(pid_t Pid);

// For a program started with port 0 (its listener takes a port the system
// hands it; one picked beforehand could go to another process before the
// program binds it): waits until Child listens and returns that port, 0
// when Child ended first or never listened within the safety limit.
uint16_t WaitForListeningPort(TChildProcess& Child);

}  // namespace ostra::testsupport
