// Helpers of the runtime's tests: an isolated registry file per test, the
// probe server's path and running the registration tool as a child process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/Folders.h"

namespace ostra::com::test {

using testsupport::BinDir;

inline std::string ProbePath() {
    return BinDir() + "/libostracom_testprobe.so";
}

// Points the runtime at a fresh registry file in a fresh folder; removes both.
class TempRegistry {
  public:
    TempRegistry() { setenv("OSTRA_COM_REGISTRY", file_.c_str(), 1); }
    ~TempRegistry() { unsetenv("OSTRA_COM_REGISTRY"); }
    const std::string& file() const { return file_; }
    const std::string& dir() const { return dir_; }

  private:
    testsupport::TTempDir folder_{"ostracom-test"};
    const std::string dir_ = folder_.Path().string();
    const std::string file_ = dir_ + "/registry.ini";
};

// Runs the registration tool with args; returns its exit code (-1 when it
// did not exit normally). Its output goes to the folder's tool.log.
inline int RunRegSvr(const std::vector<std::string>& args, const std::string& logDir) {
    std::string cmd = testsupport::Quoted(BinDir() + "/ostra-regsvr");
    for (const std::string& a : args) cmd += " " + testsupport::Quoted(a);
    cmd += " >>" + testsupport::Quoted(logDir + "/tool.log") + " 2>&1";
    int status = -1;
    testsupport::Shell(cmd, &status);
    const testsupport::TChildEnd end =
        status == -1 ? testsupport::TChildEnd{} : testsupport::TChildEnd::FromStatus(status);
    const int code = end.How == testsupport::TChildEnd::THow::Exited ? end.Code : -1;
    if (code != 0) {
        // Show how it ended and what the tool said, for the failure message of the test.
        std::ifstream log(logDir + "/tool.log");
        std::cerr << "ostra-regsvr " << end.Describe() << ":\n" << log.rdbuf() << "\n";
    }
    return code;
}

}  // namespace ostra::com::test
