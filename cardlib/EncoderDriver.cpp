#include "cardlib/EncoderDriver.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "cardlib/CardLibError.h"
#include "platform/lycomm/LyComm.h"

namespace ostra::cardlib {

namespace {

std::string DirectoryOfThisCode() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&DirectoryOfThisCode), &info) == 0 || !info.dli_fname)
        return {};
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

class LyComm final : public EncoderDriver {
  public:
    uint8_t CreateCard(uint8_t port) override {
        return Lookup<CreateCardFn>(createCard_, "createCard")(port);
    }
    void DestroyCard() override { Lookup<DestroyCardFn>(destroyCard_, "destroyCard")(); }
    uint8_t ReadPass(const PasswordBytes& p, CardBlock& b) override {
        auto fn = Lookup<ReadPassFn>(readPass_, "readPass");
        return fn(p[0], p[1], p[2], p[3], &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7],
                  &b[8], &b[9], &b[10], &b[11], &b[12], &b[13], &b[14], &b[15], &b[16], &b[17],
                  &b[18], &b[19], &b[20], &b[21], &b[22], &b[23], &b[24], &b[25], &b[26], &b[27]);
    }
    uint8_t WritePass(const PasswordBytes& p, const CardBlock& b) override {
        auto fn = Lookup<WritePassFn>(writePass_, "writePass");
        return fn(p[0], p[1], p[2], p[3], b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8],
                  b[9], b[10], b[11], b[12], b[13], b[14], b[15], b[16], b[17], b[18], b[19], b[20],
                  b[21], b[22], b[23], b[24], b[25], b[26], b[27]);
    }

  private:
    template <typename Fn>
    Fn Lookup(void*& slot, const char* name) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!slot) {
            Load();
            slot = dlsym(handle_, name);
            if (!slot)
                throw CardLibError(std::string("The encoder driver function ") + name +
                                   " was not found in " + kDriverLibraryName);
        }
        return reinterpret_cast<Fn>(slot);
    }

    void Load() {
        if (handle_) return;
        std::string beside = DirectoryOfThisCode();
        if (!beside.empty())
            handle_ = dlopen((beside + "/" + kDriverLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) handle_ = dlopen(kDriverLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            const char* why = dlerror();
            throw CardLibError(std::string("The encoder driver ") + kDriverLibraryName +
                               " could not be loaded: " + (why ? why : "not found"));
        }
    }

    std::mutex mutex_;
    void* handle_ = nullptr;  // never closed: the driver stays for the process
    void* createCard_ = nullptr;
    void* destroyCard_ = nullptr;
    void* readPass_ = nullptr;
    void* writePass_ = nullptr;
};

}  // namespace

EncoderDriver& LyCommDriver() {
    // Lives as long as the library that holds this code; the driver library
    // it loaded stays loaded for the process.
    static LyComm driver;
    return driver;
}

int16_t ReadCardBlock(EncoderDriver& driver, CardBlock& block) {
    return driver.ReadPass(CardPasswordBytes(), block) == 1 ? 0 : -99;
}

int16_t WriteCardBlock(EncoderDriver& driver, const CardBlock& block) {
    return driver.WritePass(CardPasswordBytes(), block);
}

}  // namespace ostra::cardlib
