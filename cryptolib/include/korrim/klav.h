/*
 * Korrim: digests, MACs, symmetric and RSA cryptography, envelopes, password
 * encryption, encodings and certificates behind 42 plain C functions.
 *
 * Conventions shared by every function:
 * - The result is a status code (KLAV_OK on success, see the list below).
 * - Buffers belong to the caller. "out" is written, "outLen" receives the number
 *   of bytes written; each function states how large "out" must be. Nothing the
 *   library allocates crosses back, except the context handles of the
 *   Init/Update/Final families, which the matching Final call frees.
 * - A null pointer where data is required, or a negative length, gives
 *   KLAV_ERR_CRYPTO (3) unless an unsupported algorithm code is reported first.
 *   An unsupported algorithm code is reported before any buffer is touched; on
 *   other failures *outLen is set to 0 when outLen is not null.
 * - Functions are safe to call from several threads with separate buffers and
 *   handles. The library keeps no state between calls.
 */
#ifndef KORRIM_KLAV_H
#define KORRIM_KLAV_H

#include <stdint.h>

#if defined(KORRIM_BUILDING)
#define KLAV_API __attribute__((visibility("default")))
#else
#define KLAV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes ------------------------------------------------------- */
#define KLAV_OK 1
#define KLAV_ERR_FILE 2   /* file cannot be opened; unsupported type argument */
#define KLAV_ERR_TYPE 2   /* PEM/DER object type, PKCS#10 form or digest, envelope cipher */
#define KLAV_ERR_CRYPTO 3 /* cryptographic operation failed; bad argument */
#define KLAV_ERR_SETUP 4  /* cipher context set-up failed; no certificate; object not creatable */
#define KLAV_ERR_RAND_LENGTH 256     /* KLAV_GenRandData: more than KLAV_MAX_RANDOM bytes */
#define KLAV_ERR_PASSWORD 276        /* KLAV_PasswordDecrypt: password does not match */
#define KLAV_ERR_DIGEST_ALG 288      /* unsupported digest or signature code */
#define KLAV_ERR_CIPHER_ALG 304      /* unsupported cipher code */
#define KLAV_ERR_RSA_KEY 305         /* RSA key object cannot be created from the key holder */
#define KLAV_ERR_ENVELOPE_CIPHER 306 /* KLAV_DecodeEnvelope: cipher identifier not 1 to 4 */
#define KLAV_ERR_MAC_ALG 768         /* unsupported MAC code */
#define KLAV_ERR_MAC_HANDLE 785      /* handle is neither an HMAC nor a cipher-MAC handle */
#define KLAV_ERR_CERT_READ 1024      /* certificate cannot be read */
#define KLAV_ERR_NO_EXTENSION 1025   /* requested extension not in the certificate */
/* Any other value (in practice 0) is the failure value of the underlying cipher
 * call, e.g. a wrong padding found by a decryption. */

/* ---- Digest codes ------------------------------------------------------- */
#define KLAV_MD5 1  /* 16 bytes */
#define KLAV_SHA1 2 /* 20 bytes */
#define KLAV_MAX_DIGEST_SIZE 20

/* ---- Signature codes ---------------------------------------------------- */
#define KLAV_SIGN_MD5 256
#define KLAV_SIGN_SHA1 512
#define KLAV_VERIFY_MD5 1024
#define KLAV_VERIFY_SHA1 2048

/* ---- Symmetric cipher codes --------------------------------------------- */
#define KLAV_DES3_ECB 0x1         /* 24-byte key, PKCS#7 */
#define KLAV_DES3_CBC 0x2         /* 24-byte key, PKCS#7, caller's 8-byte IV */
#define KLAV_AES128_ECB 0x10      /* 16-byte key, PKCS#7 */
#define KLAV_AES128_CBC 0x20      /* 16-byte key, PKCS#7, caller's 16-byte IV */
#define KLAV_SSF33_ECB 0x100      /* 16-byte key, PKCS#7 */
#define KLAV_SSF33_CBC 0x200      /* 16-byte key, PKCS#7, caller's 16-byte IV */
#define KLAV_DES_ECB 0x1000       /* 8-byte key, PKCS#7 */
#define KLAV_DES_CBC 0x2000       /* 8-byte key, PKCS#7, caller's 8-byte IV */
#define KLAV_DES_CFB8 0x4000      /* 8-byte key, stream, fixed library IV (caller's IV ignored) */
#define KLAV_DES2_ECB_PAD 0x10000 /* 16-byte key K1|K2, EDE K1,K2,K1 per block, library padding */

/* ---- MAC codes ---------------------------------------------------------- */
#define KLAV_MAC_HMAC_MD5 1
#define KLAV_MAC_HMAC_SHA1 2
#define KLAV_MAC_DES_CBC 4
#define KLAV_MAC_DES3_CBC 8
#define KLAV_MAC_AES128_CBC 16
#define KLAV_MAC_SSF33_CBC 32

/* ---- Envelope cipher codes (identifier byte carried in the envelope) ---- */
#define KLAV_ENV_DES3_CBC 0x2    /* identifier 3, 24-byte key */
#define KLAV_ENV_AES128_CBC 0x20 /* identifier 1, 16-byte key */
#define KLAV_ENV_SSF33_CBC 0x200 /* identifier 4, 16-byte key */
#define KLAV_ENV_DES_CBC 0x2000  /* identifier 2, 8-byte key */

/* ---- PEM/DER object types ----------------------------------------------- */
#define KLAV_OBJ_CERTIFICATE 1
#define KLAV_OBJ_PRIVATE_KEY 2 /* DER side is PKCS#8 PrivateKeyInfo */
#define KLAV_OBJ_CERT_REQUEST 3

/* ---- PKCS#10 output forms ----------------------------------------------- */
#define KLAV_PKCS10_ASCII 1 /* subject texts as ASCII strings */
#define KLAV_PKCS10_UTF8 2  /* subject texts are GBK, stored as UTF8String */

/* ---- Limits and output sizes -------------------------------------------- */
#define KLAV_MAX_RANDOM 16384
#define KLAV_MAX_BLOCK 16
/* KLAV_Encrypt/KLAV_EncryptUpdate: out holds inLen + KLAV_MAX_BLOCK bytes. */
#define KLAV_CIPHER_OUT_MAX(inLen) ((inLen) + KLAV_MAX_BLOCK)
/* KLAV_Base64Encode: 64-column lines, each ended by '\n', then a NUL. */
#define KLAV_BASE64_OUT_MAX(inLen) (((inLen) + 2) / 3 * 4 + ((inLen) / 48 + 1) + 1)
/* KLAV_Der2Pem: armour lines, Base64 body and the conversion of a key to PKCS#8. */
#define KLAV_DER2PEM_OUT_MAX(derLen) (KLAV_BASE64_OUT_MAX((derLen) + 64) + 128)
#define KLAV_PKCS10_OUT_MAX 8192
#define KLAV_ENVELOPE_OUT_MAX(dataLen, rsaBytes) ((rsaBytes) + (dataLen) + KLAV_MAX_BLOCK)

/* ---- Records ------------------------------------------------------------ */

/* A symmetric key. keyLen counts the valid bytes of key: the HMAC key length for
 * KLAV_MAC codes 1 and 2; the ciphers read their fixed key size (8, 16 or 24)
 * regardless. algorithm is for the caller's bookkeeping; the library ignores it. */
typedef struct KLAV_SYMMETRIC_KEY {
    uint32_t keyLen;
    uint32_t algorithm;
    unsigned char key[128];
} KLAV_SYMMETRIC_KEY;

/* An RSA key holder: the key as DER or PEM bytes, PKCS#1 or PKCS#8 for a
 * private key, PKCS#1 RSAPublicKey or SubjectPublicKeyInfo for a public key.
 * A private key also serves where a public key is asked for. */
typedef struct KLAV_RSA_KEY {
    const unsigned char* data;
    int length;
} KLAV_RSA_KEY;

/* Opaque context of the Init/Update/Final families. A handle of another
 * family, or a null one, gives 3 (785 for the MAC functions) and is left alone. */
typedef struct klav_context* KLAV_HANDLE;

/* Subject of a PKCS#10 request: NUL-terminated texts, empty fields skipped,
 * added to the name in this order. */
typedef struct KLAV_SUBJECT {
    char country[128];
    char organization[128];
    char organizationalUnit[128];
    char stateOrProvince[128];
    char commonName[128];
    char locality[128];
    char title[128];
    char surname[128];
    char givenName[128];
    char initials[128];
    char email[128];
} KLAV_SUBJECT;

/* Certificate summary (92 bytes, 4-byte aligned): validity as seconds since
 * 1970-01-01 UTC, serial number as upper-case hex, subject common name (UTF-8,
 * cut to fit). */
#pragma pack(push, 4)
typedef struct KLAV_CERT_SUMMARY {
    int64_t notBefore;
    int64_t notAfter;
    char serialNumber[44];
    char commonName[32];
} KLAV_CERT_SUMMARY;
#pragma pack(pop)

/* Certificate information (272 bytes): version (0 = v1), serial number as
 * upper-case hex, subject and issuer as one-line UTF-8 texts ("C = CN, O = ..."),
 * cut to fit and NUL-terminated, validity as seconds since 1970-01-01 UTC
 * (-1 when the certificate's time text cannot be read). */
typedef struct KLAV_CERT_INFO {
    int32_t version;
    char serialNumber[44];
    char subject[104];
    char issuer[104];
    int64_t notBefore;
    int64_t notAfter;
} KLAV_CERT_INFO;

/* Session from which KLAV_GetMyCert/KLAV_GetPeerCert read: the own and the
 * peer's certificate as DER or PEM bytes; a null pointer or length 0 means none. */
typedef struct KLAV_SESSION {
    const unsigned char* myCert;
    int myCertLength;
    const unsigned char* peerCert;
    int peerCertLength;
} KLAV_SESSION;

/* Implementer's choices:
 * - KLAV_DES_CFB8 (0x4000) IV: 4B 4C 41 56 43 46 42 38 ("KLAVCFB8").
 * - Envelope IV: 45 4E 56 2D 4B 4C 41 56 2D 49 56 2D 31 36 21 00 ("ENV-KLAV-IV-16!"),
 *   its first 8 bytes for the 8-byte-block ciphers.
 * - SSF33 is SM4 (16-byte key and block).
 * - KLAV_Decrypt 0x10000 rejects (3) an input length that is not a positive
 *   multiple of 8 and a last plaintext byte above 7, writing nothing.
 * - KLAV_DecryptFile 0x10000 reads 4104-byte pieces, the size one 4096-byte
 *   piece of KLAV_EncryptFile takes, so encrypted files decrypt back.
 * - KLAV_Sign writes the DigestInfo with the algorithm object of OpenSSL NID 108
 *   for either digest; KLAV_Verify expects exactly that DigestInfo.
 * - Record layouts: KLAV_CERT_SUMMARY, KLAV_CERT_INFO, KLAV_SUBJECT, KLAV_SESSION above.
 */

/* ---- Random ------------------------------------------------------------- */
/* Fills buffer with length strong random bytes (at most KLAV_MAX_RANDOM). */
KLAV_API int KLAV_GenRandData(int length, unsigned char* buffer);

/* ---- Raw RSA with PKCS#1 v1.5 padding; out holds the modulus size -------- */
KLAV_API int KLAV_RSAPublicKeyEnc(const KLAV_RSA_KEY* key, const unsigned char* in, int inLen,
                                  unsigned char* out, int* outLen);
KLAV_API int KLAV_RSAPublicKeyDec(const KLAV_RSA_KEY* key, const unsigned char* in, int inLen,
                                  unsigned char* out, int* outLen);
KLAV_API int KLAV_RSAPrivateKeyEnc(const KLAV_RSA_KEY* key, const unsigned char* in, int inLen,
                                   unsigned char* out, int* outLen);
KLAV_API int KLAV_RSAPrivateKeyDec(const KLAV_RSA_KEY* key, const unsigned char* in, int inLen,
                                   unsigned char* out, int* outLen);

/* ---- Digests; out holds KLAV_MAX_DIGEST_SIZE bytes ---------------------- */
KLAV_API int KLAV_HASH(int digest, const unsigned char* data, int length, unsigned char* out,
                       int* outLen);
KLAV_API int KLAV_HASHInit(int digest, KLAV_HANDLE* handle);
/* A failing Update frees the handle and sets *handle to null. */
KLAV_API int KLAV_HASHUpdate(KLAV_HANDLE* handle, const unsigned char* data, int length);
/* Frees the handle and sets *handle to null. */
KLAV_API int KLAV_HASHFinal(KLAV_HANDLE* handle, unsigned char* out, int* outLen);

/* ---- MACs; out holds KLAV_MAX_DIGEST_SIZE bytes ------------------------- */
/* Codes 1, 2: HMAC with key->keyLen key bytes (iv unused). Codes 4 to 32: the
 * last (padded) CBC block under the cipher's key size and the caller's IV. */
KLAV_API int KLAV_MAC(int mac, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
                      const unsigned char* data, int length, unsigned char* out, int* outLen);
KLAV_API int KLAV_MACInit(int mac, KLAV_HANDLE* handle, const KLAV_SYMMETRIC_KEY* key,
                          const unsigned char* iv, int ivLen);
/* A handle of another family gives 785 and is left alone. */
KLAV_API int KLAV_MACUpdate(KLAV_HANDLE* handle, const unsigned char* data, int length);
KLAV_API int KLAV_MACFinal(KLAV_HANDLE* handle, unsigned char* out, int* outLen);

/* ---- Signatures; signature holds the modulus size ----------------------- */
KLAV_API int KLAV_Sign(int sign, const KLAV_RSA_KEY* privateKey, const unsigned char* data,
                       int length, unsigned char* signature, int* signatureLen);
KLAV_API int KLAV_SignFile(int sign, const KLAV_RSA_KEY* privateKey, const char* fileName,
                           unsigned char* signature, int* signatureLen);
/* Status 1 with *valid = 1 (good) or 0 (bad signature). */
KLAV_API int KLAV_Verify(int verify, const KLAV_RSA_KEY* publicKey, const unsigned char* data,
                         int length, const unsigned char* signature, int signatureLen, int* valid);
KLAV_API int KLAV_VerifyFile(int verify, const KLAV_RSA_KEY* publicKey, const char* fileName,
                             const unsigned char* signature, int signatureLen, int* valid);

/* ---- Symmetric ciphers -------------------------------------------------- */
/* out holds KLAV_CIPHER_OUT_MAX(inLen) bytes. ivLen must cover the cipher's
 * block for the CBC codes. Unsupported code: 304 before any buffer is touched. */
KLAV_API int KLAV_Encrypt(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                          int ivLen, const unsigned char* in, int inLen, unsigned char* out,
                          int* outLen);
KLAV_API int KLAV_Decrypt(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                          int ivLen, const unsigned char* in, int inLen, unsigned char* out,
                          int* outLen);
/* Reads inFile in 4096-byte pieces; 0x4000 and 0x10000 treat each piece on its
 * own. A partly written output file is removed on failure. */
KLAV_API int KLAV_EncryptFile(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                              int ivLen, const char* inFile, const char* outFile);
KLAV_API int KLAV_DecryptFile(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                              int ivLen, const char* inFile, const char* outFile);
/* Codes 0x1 to 0x2000 only; iv holds the cipher's block for the CBC codes.
 * Update's out holds inLen + KLAV_MAX_BLOCK bytes, Final's KLAV_MAX_BLOCK.
 * A failing Update and every Final free the handle and set *handle to null. */
KLAV_API int KLAV_EncryptInit(int cipher, KLAV_HANDLE* handle, const KLAV_SYMMETRIC_KEY* key,
                              const unsigned char* iv);
KLAV_API int KLAV_EncryptUpdate(KLAV_HANDLE* handle, const unsigned char* in, int inLen,
                                unsigned char* out, int* outLen);
KLAV_API int KLAV_EncryptFinal(KLAV_HANDLE* handle, unsigned char* out, int* outLen);
KLAV_API int KLAV_DecryptInit(int cipher, KLAV_HANDLE* handle, const KLAV_SYMMETRIC_KEY* key,
                              const unsigned char* iv);
KLAV_API int KLAV_DecryptUpdate(KLAV_HANDLE* handle, const unsigned char* in, int inLen,
                                unsigned char* out, int* outLen);
KLAV_API int KLAV_DecryptFinal(KLAV_HANDLE* handle, unsigned char* out, int* outLen);

/* ---- Envelopes ---------------------------------------------------------- */
/* out holds KLAV_ENVELOPE_OUT_MAX(length, modulus size) bytes. */
KLAV_API int KLAV_EncodeEnvelope(int cipher, const KLAV_RSA_KEY* recipientPublicKey,
                                 const unsigned char* data, int length, unsigned char* out,
                                 int* outLen);
/* reserved is ignored. out holds envelopeLen bytes. */
KLAV_API int KLAV_DecodeEnvelope(int reserved, const KLAV_RSA_KEY* privateKey,
                                 const unsigned char* envelope, int envelopeLen, unsigned char* out,
                                 int* outLen);

/* ---- Password encryption ------------------------------------------------ */
/* password is NUL-terminated. Encrypt: out holds length + 24 bytes.
 * Decrypt: out holds blobLen bytes; nothing is written on a wrong password. */
KLAV_API int KLAV_PasswordEncrypt(const char* password, const unsigned char* data, int length,
                                  unsigned char* out, int* outLen);
KLAV_API int KLAV_PasswordDecrypt(const char* password, const unsigned char* blob, int blobLen,
                                  unsigned char* out, int* outLen);

/* ---- Encodings ---------------------------------------------------------- */
/* out holds KLAV_BASE64_OUT_MAX(inLen) bytes; *outLen excludes the final NUL. */
KLAV_API int KLAV_Base64Encode(const unsigned char* in, int inLen, char* out, int* outLen);
/* text is NUL-terminated, with or without line breaks. Invalid text, or more
 * than outCapacity decoded bytes, gives 3 and writes nothing. */
KLAV_API int KLAV_Base64Decode(const char* text, int outCapacity, unsigned char* out, int* outLen);
/* out holds inLen bytes; a DER encoding that would not fit gives 4. */
KLAV_API int KLAV_Pem2Der(const unsigned char* in, int inLen, unsigned char* out, int* outLen,
                          int type);
/* out holds KLAV_DER2PEM_OUT_MAX(inLen) bytes; *outLen excludes the final NUL. */
KLAV_API int KLAV_Der2Pem(const unsigned char* in, int inLen, unsigned char* out, int* outLen,
                          int type);

/* ---- PKCS#10 ------------------------------------------------------------ */
/* Writes the DER request signed by privateKey; out holds KLAV_PKCS10_OUT_MAX bytes. */
KLAV_API int KLAV_GenPKCS10(const KLAV_SUBJECT* subject, const KLAV_RSA_KEY* privateKey, int digest,
                            int form, unsigned char* out, int* outLen);

/* ---- Certificates ------------------------------------------------------- */
KLAV_API int KLAV_GetMyCert(const KLAV_SESSION* session, KLAV_CERT_SUMMARY* out);
KLAV_API int KLAV_GetPeerCert(const KLAV_SESSION* session, KLAV_CERT_SUMMARY* out);
/* cert is DER or PEM of length bytes; length 0: cert is a NUL-terminated file name. */
KLAV_API int KLAV_GetCertInfo(const unsigned char* cert, int length, KLAV_CERT_INFO* info);
/* x509 is an OpenSSL X509 object owned by the caller. */
KLAV_API int KLAV_GetCertInfoEx(const void* x509, KLAV_CERT_INFO* info);
/* The extension's DER value as upper-case hex text, NUL-terminated; *outLen
 * counts the hex characters. out holds 2 * (certificate DER size) + 1 bytes. */
KLAV_API int KLAV_GetCertInfoByOID(const unsigned char* cert, int length, int nid, char* out,
                                   int* outLen);
KLAV_API int KLAV_GetCertInfoByOIDEx(const void* x509, int nid, char* out, int* outLen);

#ifdef __cplusplus
}
#endif

#endif /* KORRIM_KLAV_H */
