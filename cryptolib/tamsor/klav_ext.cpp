#include "tamsor/klav_ext.h"

#include <cstring>

namespace {

// The device's own key. Changing it makes every stored keyed digest unverifiable.
constexpr unsigned char kDeviceKey[16] = {0x5A, 0x3C, 0x96, 0x0F, 0xE1, 0x7B, 0x24, 0xC8,
                                          0x9D, 0x41, 0x6E, 0xB2, 0x17, 0xF5, 0x83, 0x2A};

// The working key: the caller's 16 key bytes XOR the device key. The result is
// wiped before returning.
class WorkingKey {
  public:
    explicit WorkingKey(const KLAV_SYMMETRIC_KEY& callerKey) {
        std::memset(&key_, 0, sizeof key_);
        key_.keyLen = 16;
        key_.algorithm = KLAV_DES2_ECB_PAD;
        for (size_t i = 0; i < sizeof kDeviceKey; ++i) {
            key_.key[i] = static_cast<unsigned char>(callerKey.key[i] ^ kDeviceKey[i]);
        }
    }
    ~WorkingKey() {
        volatile unsigned char* bytes = key_.key;
        for (size_t i = 0; i < sizeof key_.key; ++i) bytes[i] = 0;
    }
    WorkingKey(const WorkingKey&) = delete;
    WorkingKey& operator=(const WorkingKey&) = delete;

    const KLAV_SYMMETRIC_KEY* get() const { return &key_; }

  private:
    KLAV_SYMMETRIC_KEY key_;
};

}  // namespace

int CKLAV_EXT::Encrypt(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                       int ivLen, const unsigned char* in, int inLen, unsigned char* out,
                       int* outLen) {
    if (cipher != KLAV_DES2_ECB_PAD) return KLAV_ERR_CIPHER_ALG;
    if (key == nullptr) return KLAV_Encrypt(cipher, nullptr, iv, ivLen, in, inLen, out, outLen);
    const WorkingKey working(*key);
    return KLAV_Encrypt(cipher, working.get(), iv, ivLen, in, inLen, out, outLen);
}

int CKLAV_EXT::Decrypt(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                       int ivLen, const unsigned char* in, int inLen, unsigned char* out,
                       int* outLen) {
    if (cipher != KLAV_DES2_ECB_PAD) return KLAV_ERR_CIPHER_ALG;
    if (key == nullptr) return KLAV_Decrypt(cipher, nullptr, iv, ivLen, in, inLen, out, outLen);
    const WorkingKey working(*key);
    return KLAV_Decrypt(cipher, working.get(), iv, ivLen, in, inLen, out, outLen);
}
