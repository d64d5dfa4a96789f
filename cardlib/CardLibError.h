// The failure that ends a card-library method without a result code.
//
// The automation shell turns it into a failed call carrying `Code()` and the
// message; the lock driver logs the message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ostra::cardlib {

class CardLibError : public std::runtime_error {
  public:
    // `code` is an HRESULT-style failure code (E_FAIL unless a finer one applies).
    explicit CardLibError(const std::string& message, int32_t code = kGenericFailure)
        : std::runtime_error(message), code_(code) {}
    int32_t Code() const { return code_; }

    static constexpr int32_t kGenericFailure = static_cast<int32_t>(0x80004005);  // E_FAIL

  private:
    int32_t code_;
};

}  // namespace ostra::cardlib
