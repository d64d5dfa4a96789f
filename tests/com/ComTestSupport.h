// Helpers of the runtime's tests: an isolated registry file per test, the
// probe server's path and running the registration tool as a child process.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace ostra::com::test {

// Where the build puts every binary: OSTRA_BIN_DIR, else the folder of
// this test program (which lands there too).
inline std::string BinDir() {
    if (const char* dir = std::getenv("OSTRA_BIN_DIR"); dir && *dir) return dir;
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

inline std::string ProbePath() {
    return BinDir() + "/libostracom_testprobe.so";
}

// Points the runtime at a fresh registry file in a fresh folder; removes both.
class TempRegistry {
  public:
    TempRegistry() {
        char tmpl[] = "/tmp/ostracom-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        file_ = dir_ + "/registry.ini";
        setenv("OSTRA_COM_REGISTRY", file_.c_str(), 1);
    }
    ~TempRegistry() {
        unsetenv("OSTRA_COM_REGISTRY");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& file() const { return file_; }
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    std::string file_;
};

// Runs the registration tool with args; returns its exit code (-1 when it
// did not exit normally). Its output goes to the folder's tool.log.
inline int RunRegSvr(const std::vector<std::string>& args, const std::string& logDir) {
    std::string cmd = "'" + BinDir() + "/ostra-regsvr'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " >>'" + logDir + "/tool.log' 2>&1";
    int status = std::system(cmd.c_str());
    int code = (status == -1 || !WIFEXITED(status)) ? -1 : WEXITSTATUS(status);
    if (code != 0) {
        // Show what the tool said, for the failure message of the test.
        std::ifstream log(logDir + "/tool.log");
        std::cerr << "ostra-regsvr exited with " << code << ":\n" << log.rdbuf() << "\n";
    }
    return code;
}

}  // namespace ostra::com::test
