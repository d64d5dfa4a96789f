#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "tests/support/Folders.h"
#include "tests/support/FrontDesk.h"

extern char** environ;

namespace ostra::testsupport {

namespace {

std::string NameOf(const std::string& Entry) {
    return Entry.substr(0, Entry.find('='));
}

bool Listed(const std::vector<std::string>& Names, const std::string& Name) {
    for (const std::string& N : Names)
        if (N == Name) return true;
    return false;
}

}  // namespace

TChildProcess::TChildProcess(const std::string& Program, const TChildOptions& Options) {
    // Everything the child needs is made here: between fork and exec it
    // calls only what is safe in a copy of a process with many threads.
    std::vector<std::string> Argv{Program};
    Argv.insert(Argv.end(), Options.Args.begin(), Options.Args.end());
    std::vector<std::string> Env;
    std::vector<std::string> Replaced = Options.Unset;
    for (const std::string& S : Options.Set) Replaced.push_back(NameOf(S));
    for (char** E = environ; *E; ++E)
        if (!Listed(Replaced, NameOf(*E))) Env.emplace_back(*E);
    Env.insert(Env.end(), Options.Set.begin(), Options.Set.end());
    std::vector<char*> CArgv, CEnv;
    for (std::string& A : Argv) CArgv.push_back(A.data());
    CArgv.push_back(nullptr);
    for (std::string& E : Env) CEnv.push_back(E.data());
    CEnv.push_back(nullptr);

    int In[2] = {-1, -1}, Out[2] = {-1, -1};
    if (Options.Pipes && (::pipe2(In, O_CLOEXEC) != 0 || ::pipe2(Out, O_CLOEXEC) != 0))
        throw std::runtime_error("no pipes for " + Program);
    rlimit Limit{Options.FdLimit, Options.FdLimit};
    if (Options.FdLimit) {
        rlimit Old{};
        ::getrlimit(RLIMIT_NOFILE, &Old);
        if (Old.rlim_max < Options.FdLimit) Limit = {Old.rlim_max, Old.rlim_max};
    }
    const char* WorkDir = Options.WorkDir.empty() ? nullptr : Options.WorkDir.c_str();

    Pid_ = ::fork();
    if (Pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test
        if (Options.Pipes) {
            ::dup2(In[0], 0);
            ::dup2(Out[1], 1);
        }
        if (!Options.Pipes && !Options.StdoutFile.empty()) {
            const int Out =
                ::open(Options.StdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (Out < 0 || ::dup2(Out, 1) < 0) ::_exit(127);
        }
        if (!Options.StderrFile.empty()) {
            const int Err =
                ::open(Options.StderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (Err < 0 || ::dup2(Err, 2) < 0) ::_exit(127);
        }
        if (WorkDir && ::chdir(WorkDir) != 0) ::_exit(127);
        if (Options.FdLimit) ::setrlimit(RLIMIT_NOFILE, &Limit);
        if (Options.SoftFdLimit) {
            rlimit Soft{};
            ::getrlimit(RLIMIT_NOFILE, &Soft);
            Soft.rlim_cur = std::min(Options.SoftFdLimit, Soft.rlim_max);
            ::setrlimit(RLIMIT_NOFILE, &Soft);
        }
        ::execve(CArgv[0], CArgv.data(), CEnv.data());
        ::_exit(127);
    }
    if (Options.Pipes) {
        ::close(In[0]);
        ::close(Out[1]);
        Input_ = In[1];
        Output_ = Out[0];
    }
}

TChildProcess::~TChildProcess() {
    Kill();
    if (Input_ >= 0) ::close(Input_);
    if (Output_ >= 0) ::close(Output_);
}

bool TChildProcess::Running() {
    if (Pid_ <= 0) return false;
    int Status = 0;
    if (::waitpid(Pid_, &Status, WNOHANG) == Pid_) {
        End_ = TChildEnd::FromStatus(Status);
        Pid_ = -1;
        return false;
    }
    return true;
}

void TChildProcess::Kill() {
    if (Pid_ > 0) {
        ::kill(Pid_, SIGKILL);
        int Status = 0;
        if (::waitpid(Pid_, &Status, 0) == Pid_) End_ = TChildEnd::FromStatus(Status);
        Pid_ = -1;
    }
}

TChildEnd TChildEnd::FromStatus(int Status) {
    TChildEnd End;
    if (WIFEXITED(Status)) {
        End.How = THow::Exited;
        End.Code = WEXITSTATUS(Status);
    } else if (WIFSIGNALED(Status)) {
        End.How = THow::Signalled;
        End.Code = WTERMSIG(Status);
        End.CoreDumped = WCOREDUMP(Status);
    }
    return End;
}

std::string TChildEnd::Describe() const {
    switch (How) {
        case THow::Exited:
            return "exited with " + std::to_string(Code);
        case THow::Signalled:
            return "ended by signal " + SignalName(Code) + " (" + std::to_string(Code) + ")" +
                   (CoreDumped ? ", core dumped" : "");
        case THow::Outlived:
            return "still running after the time it was given, so killed with SIGKILL";
        case THow::NeverStarted:
            break;
    }
    return "never started";
}

std::ostream& operator<<(std::ostream& Out, const TChildEnd& End) {
    Out << End.Describe();
    if (!End.Details.empty()) Out << "\n" << End.Details;
    return Out;
}

std::string SignalName(int Number) {
    const char* Abbrev = ::sigabbrev_np(Number);
    return Abbrev ? std::string("SIG") + Abbrev : "signal " + std::to_string(Number);
}

namespace {

// The last Count lines of Text (all of it when it has fewer).
std::string LastLines(const std::string& Text, std::size_t Count) {
    std::size_t Start = Text.size();
    if (Start > 0 && Text[Start - 1] == '\n') --Start;  // the last line's own end
    for (std::size_t Seen = 0; Start > 0 && Seen < Count; --Start)
        if (Text[Start - 1] == '\n' && ++Seen == Count) break;
    return Text.substr(Start);
}

}  // namespace

std::string LogTails(const std::string& Folder, std::size_t Count) {
    std::string Tails;
    std::error_code Ec;
    for (auto It = std::filesystem::directory_iterator(Folder, Ec);
         !Ec && It != std::filesystem::directory_iterator(); It.increment(Ec))
        if (It->path().extension() == ".LOG")
            Tails += "the last lines of " + It->path().filename().string() + ":\n" +
                     LastLines(ReadFile(It->path().string()), Count);
    return Tails;
}

TChildEnd TChildProcess::Finish(std::chrono::seconds Patience) {
    if (Input_ >= 0) ::close(Input_);
    Input_ = -1;
    if (Pid_ <= 0) return End_;
    const auto Deadline = std::chrono::steady_clock::now() + Patience;
    while (Running()) {
        if (std::chrono::steady_clock::now() > Deadline) {
            Kill();
            End_.How = TChildEnd::THow::Outlived;
            return End_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return End_;
}

TChildEnd RunProgram(const std::vector<std::string>& Args) {
    TChildOptions Options;
    Options.Args.assign(Args.begin() + 1, Args.end());
    TChildProcess Child(Args.at(0), Options);
    return Child.Finish(std::chrono::hours(1));
}

std::string Shell(const std::string& Command, int* Status) {
    std::string Out;
    FILE* P = ::popen(Command.c_str(), "r");
    if (!P) return Out;
    char Buf[4096];
    std::size_t N;
    while ((N = std::fread(Buf, 1, sizeof Buf, P)) > 0) Out.append(Buf, N);
    const int Rc = ::pclose(P);
    if (Status) *Status = Rc;
    return Out;
}

std::string Quoted(const std::string& Text) {
    std::string Out = "'";
    for (char C : Text) {
        if (C == '\'')
            Out += "'\\''";
        else
            Out += C;
    }
    return Out + "'";
}

bool WaitUntilListening(uint16_t Port, TChildProcess& Child) {
    return Eventually([&] {
               if (!Child.Running()) return true;
               const int Fd = Connect(Port);
               if (Fd >= 0) ::close(Fd);
               return Fd >= 0;
           }) &&
           Child.Running();
}

TBoundUserRun RunAsBoundUser(const std::string& Folder, const std::function<int()>& Body,
                             const std::vector<std::string>& Reach) {
    enum : int { kNoDrop = 100, kNoFolder, kNoReach, kNotBound };
    // A file nobody may read: the child proves that the bits bind it.
    const std::string closed = Folder + "/.closed-to-all";
    const int made = ::open(closed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0);
    if (made >= 0) ::close(made);
    ::chmod(closed.c_str(), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(kNoDrop);
        if (::access(Folder.c_str(), W_OK | X_OK) != 0) ::_exit(kNoFolder);
        for (const std::string& path : Reach)
            if (::access(path.c_str(), R_OK) != 0) ::_exit(kNoReach);
        if (::open(closed.c_str(), O_RDONLY | O_CLOEXEC) >= 0) ::_exit(kNotBound);
        ::_exit(std::clamp(Body(), 0, 99));
    }
    int status = 0;
    const bool ended = pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status);
    std::error_code ignored;
    std::filesystem::remove(closed, ignored);
    TBoundUserRun run;
    switch (ended ? WEXITSTATUS(status) : -1) {
        case kNoDrop:
            run.Why = "running as root without the right to become uid 65534";
            break;
        case kNoFolder:
            run.Why = "the unprivileged user cannot make files in " + Folder +
                      " (a folder above it is closed); set TMPDIR to a folder open to all";
            break;
        case kNoReach:
            run.Why =
                "the unprivileged user cannot read what the test runs (a folder of the build "
                "is closed to it)";
            break;
        case kNotBound:
            run.Why = "this user is not bound by permission bits";
            break;
        default:
            run.Code = ended ? WEXITSTATUS(status) : -1;
    }
    return run;
}

namespace {

// The inodes of the sockets among the descriptors in Folder (/proc/<pid>/fd):
// each such descriptor reads "socket:[<inode>]".
std::set<std::string> SocketInodes(const std::string& Folder) {
    namespace fs = std::filesystem;
    std::set<std::string> Inodes;
    std::error_code Ec;
    for (auto It = fs::directory_iterator(Folder, Ec); !Ec && It != fs::directory_iterator();
         It.increment(Ec)) {
        std::error_code LinkEc;
        const std::string Target = fs::read_symlink(It->path(), LinkEc).string();
        if (!LinkEc && Target.rfind("socket:[", 0) == 0)
            Inodes.insert(Target.substr(8, Target.size() - 9));
    }
    return Inodes;
}

}  // namespace

std::vector<uint16_t> ListeningPorts(pid_t Pid) {
    const std::string Proc = "/proc/" + std::to_string(Pid);
    // Until its exec a child holds copies of this process's descriptors,
    // listeners of the test among them: those are not the child's own.
    std::set<std::string> Inodes = SocketInodes(Proc + "/fd");
    for (const std::string& Shared : SocketInodes("/proc/self/fd")) Inodes.erase(Shared);
    // "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...", the
    // addresses in hex; state 0A is LISTEN.
    std::vector<uint16_t> Ports;
    std::ifstream Table(Proc + "/net/tcp");
    std::string Line;
    std::getline(Table, Line);
    while (std::getline(Table, Line)) {
        std::istringstream Fields(Line);
        std::string Slot, Local, Remote, State, Queues, Timer, Retransmits, Uid, Timeout, Inode;
        Fields >> Slot >> Local >> Remote >> State >> Queues >> Timer >> Retransmits >> Uid >>
            Timeout >> Inode;
        const std::size_t Colon = Local.find(':');
        if (State == "0A" && Colon != std::string::npos && Inodes.count(Inode))
            Ports.push_back(
                static_cast<uint16_t>(std::stoul(Local.substr(Colon + 1), nullptr, 16)));
    }
    return Ports;
}

uint16_t WaitForListeningPort(TChildProcess& Child) {
    uint16_t Port = 0;
    Eventually([&] {
        if (!Child.Running()) return true;
        const std::vector<uint16_t> Ports = ListeningPorts(Child.Pid());
        if (Ports.size() == 1) Port = Ports[0];
        return Port != 0;
    });
    return Child.Running() ? Port : 0;
}

}  // namespace ostra::testsupport
