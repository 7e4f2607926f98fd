// The device adapter: 16 bytes to 24 and back under the caller's key record.
#include <gtest/gtest.h>

#include "peer.h"
#include "tamsor/klav_ext.h"

namespace korrim_test {
namespace {

KLAV_SYMMETRIC_KEY digestKey(unsigned char seed) {
    KLAV_SYMMETRIC_KEY key = symmetricKey(pattern(16, seed));
    key.algorithm = KLAV_DES2_ECB_PAD;
    return key;
}

TEST(DeviceAdapter, turnsADigestInto24BytesAndBack) {
    const KLAV_SYMMETRIC_KEY key = digestKey(1);
    const Bytes digest = fromHex("900150983cd24fb0d6963f7d28e17f72");
    Bytes sealed(32);
    int sealedLen = 0;
    ASSERT_EQ(CKLAV_EXT::Encrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, digest.data(), 16,
                                 sealed.data(), &sealedLen),
              KLAV_OK);
    ASSERT_EQ(sealedLen, 24);
    Bytes opened(24);
    int openedLen = 0;
    ASSERT_EQ(CKLAV_EXT::Decrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, sealed.data(), 24,
                                 opened.data(), &openedLen),
              KLAV_OK);
    ASSERT_EQ(openedLen, 16);
    EXPECT_EQ(Bytes(opened.begin(), opened.begin() + 16), digest);
}

TEST(DeviceAdapter, resultsDependOnTheDeviceKeyAndTheCallersKey) {
    const KLAV_SYMMETRIC_KEY key = digestKey(1);
    const Bytes digest = pattern(16, 3);
    Bytes device(24);
    Bytes plainLibrary(24);
    int len = 0;
    ASSERT_EQ(CKLAV_EXT::Encrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, digest.data(), 16,
                                 device.data(), &len),
              KLAV_OK);
    // Not the library's output under the caller's key alone.
    ASSERT_EQ(KLAV_Encrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, digest.data(), 16,
                           plainLibrary.data(), &len),
              KLAV_OK);
    EXPECT_NE(device, plainLibrary);
    // Another key record does not open it: the padding check fails or the bytes differ.
    const KLAV_SYMMETRIC_KEY other = digestKey(2);
    Bytes opened(24);
    const int rc = CKLAV_EXT::Decrypt(KLAV_DES2_ECB_PAD, &other, nullptr, 0, device.data(), 24,
                                      opened.data(), &len);
    EXPECT_TRUE(rc != KLAV_OK || len != 16 || Bytes(opened.begin(), opened.begin() + 16) != digest);
}

TEST(DeviceAdapter, onlyTheClientCodeAndSoundArguments) {
    const KLAV_SYMMETRIC_KEY key = digestKey(1);
    const Bytes digest = pattern(16, 3);
    Bytes out(32);
    int len = 0;
    EXPECT_EQ(
        CKLAV_EXT::Encrypt(KLAV_DES3_ECB, &key, nullptr, 0, digest.data(), 16, out.data(), &len),
        304);
    EXPECT_EQ(
        CKLAV_EXT::Decrypt(KLAV_AES128_ECB, &key, nullptr, 0, digest.data(), 16, out.data(), &len),
        304);
    EXPECT_EQ(CKLAV_EXT::Encrypt(KLAV_DES2_ECB_PAD, nullptr, nullptr, 0, digest.data(), 16,
                                 out.data(), &len),
              3);
    EXPECT_EQ(CKLAV_EXT::Decrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, digest.data(), 15, out.data(),
                                 &len),
              3);
    EXPECT_EQ(
        CKLAV_EXT::Decrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, nullptr, 24, out.data(), &len), 3);
}

}  // namespace
}  // namespace korrim_test
