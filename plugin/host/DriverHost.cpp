// KestraneDriverHost: a host whose lock is the service's Ostra lock driver,
// so that the library's card requests go the real road (the card library's
// automation class "Pendrix.MervCard", the encoder, the card database).
// Outside the delivered files; an example of a host, like KestraneHost.
//
//   KestraneDriverHost [--library NAME]
//
// The driver reads its own settings and writes the service's log beside this
// program, as the service does: "Option.ini" sections "SysOption" and
// "DoorlockOption" (the library's own section "SysOptions" shares the file).
//
// A stop signal (SIGTERM, SIGINT, SIGHUP) ends it as the system ending it: the
// library's window closes without the password, its listener lets the
// requests being handled finish and answer, then the lock is closed and
// freed and the host ends with exit code 0.
#include <dlfcn.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "lockdriver/OptionUnit.h"
#include "lockdriver/OstraDoorLockUnit.h"
#include "lockdriver/ui/OptionFormUnit.h"
#include "plugin/Kestrane.h"
#include "plugin/PluginDoorlockUnit.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"
#include "service/ui/StopSignalUnit.h"

namespace ostra::host {
namespace {

// The library's lock class over the service's lock object. The library's
// WriteCard has no copy flag: every card it asks for is a first card.
class TDriverLock final : public kestrane::TBaseDoorlock {
  public:
    explicit TDriverLock(ostra::TBaseDoorlock& Driver) : Driver(Driver) {}

    void ShowOptionForm() override { Driver.ShowOptionForm(); }
    bool OpenPort() override { return Driver.OpenPort(); }
    void Beep() override { Driver.Beep(); }
    bool ClosePort() override { return Driver.ClosePort(); }
    bool WriteCard(std::string RegisterId, std::string BuildingCode, std::string FloorCode,
                   std::string RoomNo, std::string GuestName, kestrane::TDateTime BeginDate,
                   kestrane::TDateTime BeginTime, kestrane::TDateTime EndDate,
                   kestrane::TDateTime EndTime, int64_t& CardNo) override {
        return Driver.WriteCard(std::move(RegisterId), std::move(BuildingCode),
                                std::move(FloorCode), std::move(RoomNo), std::move(GuestName),
                                BeginDate, BeginTime, EndDate, EndTime, false, CardNo);
    }
    bool ReadCard(int64_t& CardNo) override { return Driver.ReadCard(CardNo); }
    bool EraseCard() override { return Driver.EraseCard(); }

  private:
    ostra::TBaseDoorlock& Driver;
};

}  // namespace
}  // namespace ostra::host

int main(int argc, char** argv) {
    using namespace ostra;
    QApplication app(argc, argv);
    ExitOnStopSignal();
    std::string library = "libKestrane.so";
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--library") library = argv[++i];

    // The driver's settings and log, as the service starts them.
    CreateOption();
    CreateSysOption();
    CreateLogFile();
    InstallLockDriverUi();
    int result = 0;
    {
        TOstraDoorLock driver;
        Doorlock = &driver;  // the card auto-read thread reads through it
        host::TDriverLock lock(driver);
        void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto show =
            handle ? reinterpret_cast<TShowMainAppWin>(::dlsym(handle, "ShowMainAppWin")) : nullptr;
        if (show) {
            driver.OpenPort();
            show(&app, &lock);
            driver.ClosePort();
        } else {
            std::fprintf(stderr, "cannot load %s: %s\n", library.c_str(),
                         handle ? "no ShowMainAppWin" : ::dlerror());
            result = 1;
        }
        if (handle) ::dlclose(handle);
    }
    FreeLogFile();
    return result;
}
