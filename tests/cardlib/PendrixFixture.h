// A private installation of libPendrix.so for one test: the library and the
// encoder driver copied into a temporary folder with their own Setting.ini,
// a private component registry (OSTRA_COM_REGISTRY) and private simulated
// encoders (LYCOMM_STATE_DIR), so tests never meet each other's state.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/cardlib/CardDbFixture.h"

namespace ostra::cardlib::testing {

namespace fs = std::filesystem;

inline std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Runs a shell command; its standard output, and its exit status in `status`.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int rc = pclose(pipe);
    if (status) *status = rc;
    return out;
}

class PendrixInstall {
  public:
    PendrixInstall() {
        std::string pattern = (fs::temp_directory_path() / "ostra-pendrix-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        bin_ = Env("OSTRA_BIN_DIR");
        if (bin_.empty())  // the test programs live in the same folder
            bin_ = fs::read_symlink("/proc/self/exe").parent_path().string();
        fs::copy_file(bin_ + "/libPendrix.so", dir_ + "/libPendrix.so");
        fs::copy_file(bin_ + "/liblyComm.so", dir_ + "/liblyComm.so");
        fs::create_directories(dir_ + "/encoders");
        setenv("OSTRA_COM_REGISTRY", (dir_ + "/registry.ini").c_str(), 1);
        setenv("LYCOMM_STATE_DIR", (dir_ + "/encoders").c_str(), 1);
        setenv("LYCOMM_DELAY_MS", "0", 1);
    }
    ~PendrixInstall() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    PendrixInstall(const PendrixInstall&) = delete;
    PendrixInstall& operator=(const PendrixInstall&) = delete;

    std::string Library() const { return dir_ + "/libPendrix.so"; }
    const std::string& Bin() const { return bin_; }

    void WriteSettings(const std::string& server, const std::string& siteCode = "HOTEL") {
        std::ofstream ini(dir_ + "/Setting.ini", std::ios::trunc);
        ini << "[Setting]\r\nSQLServer=" << server << "\r\nSiteCode=" << siteCode << "\r\n";
    }

    // ostra-regsvr on the copy; its exit status.
    int RegSvr(bool unregister = false) const {
        int status = -1;
        RunCommand(Quoted(bin_ + "/ostra-regsvr") + (unregister ? " -u" : "") + " -s " +
                       Quoted(Library()) + " >/dev/null 2>&1",
                   &status);
        return status;
    }

    // pendrix_client in a child process.
    std::string Client(const std::string& args) const {
        return RunCommand(Quoted(bin_ + "/pendrix_client") + " " + args);
    }

  private:
    std::string dir_;
    std::string bin_;
};

}  // namespace ostra::cardlib::testing
