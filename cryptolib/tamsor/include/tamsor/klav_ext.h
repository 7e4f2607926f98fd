// The device adapter: a symmetric cipher under a key held by the device.
//
// Encrypt and Decrypt take the argument list of KLAV_Encrypt/KLAV_Decrypt and
// support code 0x10000 only (other codes: 304), so 16 bytes encrypt to 24 and
// 24 decrypt back to 16. The caller's 16 key bytes are combined (XOR) with the
// adapter's own fixed key, so a result verifies only with the same key record
// and an adapter of the same build. Results follow the Korrim status codes.
#pragma once

#include "korrim/klav.h"

#if defined(TAMSOR_BUILDING)
#define TAMSOR_API __attribute__((visibility("default")))
#else
#define TAMSOR_API
#endif

class TAMSOR_API CKLAV_EXT {
  public:
    static int Encrypt(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                       int ivLen, const unsigned char* in, int inLen, unsigned char* out,
                       int* outLen);
    static int Decrypt(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                       int ivLen, const unsigned char* in, int inLen, unsigned char* out,
                       int* outLen);
};
