// A program of this system (OstraDoorLock, a plug-in host) run as a child
// process from a folder of its own, as it is installed: the program and the
// libraries it loads beside it are linked into the folder, with its
// "Option.ini" and its log. Its standard output and error go to files in the
// folder, one pair per start, so a test can read what it printed. Several
// starts from the same folder are a restart.
//
// Threads: made, started and stopped by one thread.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DoorRequests.h"
#include "tests/support/Folders.h"
#include "tests/support/FrontDesk.h"

namespace ostra::lifecycletest {

namespace fs = std::filesystem;
using namespace ostra::testsupport;

class ChildProgram {
  public:
    // Program and Companions: file names in the build's bin folder.
    ChildProgram(fs::path Dir, std::string Program, std::vector<std::string> Companions = {})
        : Folder(std::move(Dir)), Program_(std::move(Program)) {
        fs::create_directories(Folder);
        Companions.push_back(Program_);
        for (const std::string& Name : Companions) {
            std::error_code Ec;
            fs::remove(Folder / Name, Ec);
            fs::create_hard_link(fs::path(BinDir()) / Name, Folder / Name, Ec);
            if (Ec) fs::copy_file(fs::path(BinDir()) / Name, Folder / Name);
        }
        Options_.Set.push_back("QT_QPA_PLATFORM=offscreen");
        Options_.WorkDir = Folder.string();
    }

    // A variable of the child's environment ("NAME=value"), or one left out.
    void Set(const std::string& Entry) { Options_.Set.push_back(Entry); }
    void Unset(const std::string& Name) { Options_.Unset.push_back(Name); }

    // Starts it (again). SoftFdLimit, when not 0, is its soft open-files
    // limit; the hard limit stays as it is.
    void Start(rlim_t SoftFdLimit = 0) {
        Child_.reset();
        ++Runs_;
        TChildOptions Options = Options_;
        Options.StdoutFile = OutputFile().string();
        Options.StderrFile = ErrorFile().string();
        Options.SoftFdLimit = SoftFdLimit;
        Child_ = std::make_unique<TChildProcess>((Folder / Program_).string(), Options);
    }

    bool Running() { return Child_ && Child_->Running(); }
    pid_t Pid() const { return Child_ ? Child_->Pid() : -1; }
    void Signal(int Number) {
        if (Pid() > 0) ::kill(Pid(), Number);
    }
    // Sends Signal and waits for the end. A program that does not end
    // within the safety limit is killed. What it wrote on its standard error
    // and the last lines of its log come with the end, for the message of a
    // test that expected another.
    TChildEnd StopWith(int Number) {
        Signal(Number);
        return Wait();
    }
    // Waits for the end (after a signal sent before): as StopWith.
    TChildEnd Wait() {
        TChildEnd End;
        if (Child_) End = Child_->Finish(std::chrono::seconds(120));
        End.Details = "its standard error:\n" + Errors() + "\n" + LogTails(Folder.string(), 20);
        return End;
    }

    // What the current (or last) start printed so far.
    std::string Output() const { return ReadFile(OutputFile()); }
    std::string Errors() const { return ReadFile(ErrorFile()); }
    // Waits until Text stands in the standard output (or error); false when
    // the program ended without it or the safety limit passed.
    bool WaitForOutput(const std::string& Text) { return WaitFor(Text, &ChildProgram::Output); }
    bool WaitForErrors(const std::string& Text) { return WaitFor(Text, &ChildProgram::Errors); }

    // The program's log file (the one ".LOG" file in the folder), whole.
    std::string Log() const {
        for (const auto& E : fs::directory_iterator(Folder))
            if (E.path().extension() == ".LOG") return ReadFile(E.path());
        return {};
    }

    // Waits until something accepts connections on Port.
    bool WaitUntilListening(uint16_t Port) {
        return Child_ && testsupport::WaitUntilListening(Port, *Child_);
    }
    // For a program started with port 0 (the listener takes a port the
    // system hands it): waits until it listens and returns its listener's
    // port, 0 when it ended first or never listened.
    uint16_t WaitForListeningPort() {
        return Child_ ? testsupport::WaitForListeningPort(*Child_) : 0;
    }
    // True when the program has no listening socket (any more).
    bool NotListening() { return ListeningPorts(Pid()).empty(); }

    const fs::path Folder;

  private:
    fs::path OutputFile() const { return Folder / ("stdout." + std::to_string(Runs_)); }
    fs::path ErrorFile() const { return Folder / ("stderr." + std::to_string(Runs_)); }
    bool WaitFor(const std::string& Text, std::string (ChildProgram::*Read)() const) {
        auto Seen = [&] { return (this->*Read)().find(Text) != std::string::npos; };
        Eventually([&] { return Seen() || !Running(); });
        return Seen();
    }

    const std::string Program_;
    TChildOptions Options_;
    std::unique_ptr<TChildProcess> Child_;
    int Runs_ = 0;
};

// One request on a fresh connection; the reply, read once the server has
// closed the connection (the server ends it first, so its side of the
// connection is the one that waits in TIME_WAIT). Nothing when no reply came.
inline std::optional<std::string> ExchangeUntilClosed(uint16_t Port, const std::string& Request) {
    TFrontDeskClient Client(Port);
    if (!Client.Connected() || !Client.SendRequest(Request)) return std::nullopt;
    std::string Reply = Client.ReadReply();
    if (Reply.empty() || !Client.ReadsEnd()) return std::nullopt;
    Reply.pop_back();  // the 0x00
    return Reply;
}

// True when some socket bound to Port on this machine waits in TIME_WAIT.
inline bool TimeWaitOnPort(uint16_t Port) {
    std::ifstream In("/proc/net/tcp");
    std::string Line;
    std::getline(In, Line);  // the heading
    while (std::getline(In, Line)) {
        std::istringstream Fields(Line);
        std::string Slot, Local, Remote, State;
        Fields >> Slot >> Local >> Remote >> State;
        const std::size_t Colon = Local.find(':');
        if (Colon == std::string::npos) continue;
        if (std::stoul(Local.substr(Colon + 1), nullptr, 16) == Port && State == "06") return true;
    }
    return false;
}

}  // namespace ostra::lifecycletest
