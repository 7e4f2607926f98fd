// PKCS#10 requests and certificate information.
#include <iconv.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "internal.h"

using namespace korrim;

static_assert(sizeof(KLAV_CERT_SUMMARY) == 92, "the certificate summary is 92 bytes");
static_assert(sizeof(KLAV_CERT_INFO) == 272, "the certificate information record is 272 bytes");

namespace {

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

// Certificate files are small; anything larger is not one.
constexpr long kMaxCertificateFile = 1 << 20;

int noPassword(char*, int, int, void*) {
    return -1;
}

bool readFile(const char* name, std::vector<unsigned char>& content) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return false;
    content.resize(kMaxCertificateFile + 1);
    const size_t got = std::fread(content.data(), 1, content.size(), file);
    const bool good = !std::ferror(file) && got <= static_cast<size_t>(kMaxCertificateFile);
    std::fclose(file);
    content.resize(got);
    return good;
}

Certificate parseCertificate(const unsigned char* data, size_t length) {
    if (length == 0 || length > static_cast<size_t>(INT32_MAX)) return Certificate();
    const unsigned char* cursor = data;
    Certificate cert(d2i_X509(nullptr, &cursor, static_cast<long>(length)));
    if (!cert) {
        Bio bio(BIO_new_mem_buf(data, static_cast<int>(length)));
        if (bio) cert.reset(PEM_read_bio_X509(bio.get(), nullptr, noPassword, nullptr));
    }
    ERR_clear_error();
    return cert;
}

// A certificate given as bytes, or by file name when length is 0; DER first, then PEM.
int loadCertificate(const unsigned char* data, int length, Certificate& cert) {
    if (data == nullptr || length < 0) return KLAV_ERR_CRYPTO;
    if (length > 0) {
        cert = parseCertificate(data, static_cast<size_t>(length));
    } else {
        std::vector<unsigned char> content;
        if (readFile(reinterpret_cast<const char*>(data), content)) {
            cert = parseCertificate(content.data(), content.size());
        }
    }
    return cert ? KLAV_OK : KLAV_ERR_CERT_READ;
}

// Copies text into a fixed field, cut at a character boundary and terminated.
void copyText(const std::string& text, char* field, size_t size) {
    size_t length = text.size() < size - 1 ? text.size() : size - 1;
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

std::string serialHex(const X509* cert) {
    std::string hex;
    BIGNUM* number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr);
    char* text = number != nullptr ? BN_bn2hex(number) : nullptr;
    if (text != nullptr) hex = text;
    OPENSSL_free(text);
    BN_free(number);
    return hex;
}

std::string nameText(const X509_NAME* name) {
    std::string text;
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0) {
        return text;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    if (length > 0) text.assign(data, static_cast<size_t>(length));
    return text;
}

std::string commonName(const X509* cert) {
    std::string text;
    const X509_NAME* subject = X509_get_subject_name(cert);
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index < 0) return text;
    unsigned char* utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    if (length > 0) text.assign(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

// Seconds since the epoch of a certificate time (UTCTime or GeneralizedTime),
// -1 when the text cannot be read.
int64_t calendarTime(const ASN1_TIME* time) {
    struct tm fields {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &fields) != 1) return -1;
    return static_cast<int64_t>(timegm(&fields));
}

void fillInfo(const X509* cert, KLAV_CERT_INFO* info) {
    std::memset(info, 0, sizeof *info);
    info->version = static_cast<int32_t>(X509_get_version(cert));
    copyText(serialHex(cert), info->serialNumber, sizeof info->serialNumber);
    copyText(nameText(X509_get_subject_name(cert)), info->subject, sizeof info->subject);
    copyText(nameText(X509_get_issuer_name(cert)), info->issuer, sizeof info->issuer);
    info->notBefore = calendarTime(X509_get0_notBefore(cert));
    info->notAfter = calendarTime(X509_get0_notAfter(cert));
    ERR_clear_error();
}

int extensionHex(const X509* cert, int nid, char* out, int* outLen) {
    const int index = X509_get_ext_by_NID(cert, nid, -1);
    if (index < 0) return fail(KLAV_ERR_NO_EXTENSION, outLen);
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(X509_get_ext(cert, index));
    const unsigned char* bytes = ASN1_STRING_get0_data(value);
    const int length = ASN1_STRING_length(value);
    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < length; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    out[2 * length] = '\0';
    *outLen = 2 * length;
    return KLAV_OK;
}

int summary(const unsigned char* data, int length, KLAV_CERT_SUMMARY* out) {
    if (out == nullptr) return KLAV_ERR_CRYPTO;
    if (data == nullptr || length <= 0) return KLAV_ERR_SETUP;
    const Certificate cert = parseCertificate(data, static_cast<size_t>(length));
    if (!cert) return KLAV_ERR_CERT_READ;
    std::memset(out, 0, sizeof *out);
    out->notBefore = calendarTime(X509_get0_notBefore(cert.get()));
    out->notAfter = calendarTime(X509_get0_notAfter(cert.get()));
    copyText(serialHex(cert.get()), out->serialNumber, sizeof out->serialNumber);
    copyText(commonName(cert.get()), out->commonName, sizeof out->commonName);
    ERR_clear_error();
    return KLAV_OK;
}

// Subject texts are in the local multibyte code page, GBK.
bool gbkToUtf8(const char* text, std::string& utf8) {
    iconv_t converter = iconv_open("UTF-8", "GBK");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    const size_t length = std::strlen(text);
    utf8.assign(length * 3 / 2 + 4, '\0');
    char* input = const_cast<char*>(text);
    size_t inputLeft = length;
    char* output = utf8.data();
    size_t outputLeft = utf8.size();
    const bool converted =
        iconv(converter, &input, &inputLeft, &output, &outputLeft) != static_cast<size_t>(-1) &&
        inputLeft == 0;
    iconv_close(converter);
    utf8.resize(utf8.size() - outputLeft);
    return converted;
}

struct SubjectField {
    int nid;
    const char* (*text)(const KLAV_SUBJECT&);
};

#define KLAV_FIELD(nid, member)                                            \
    {                                                                      \
        nid, [](const KLAV_SUBJECT& s) -> const char* { return s.member; } \
    }
const SubjectField kSubjectFields[] = {
    KLAV_FIELD(NID_countryName, country),
    KLAV_FIELD(NID_organizationName, organization),
    KLAV_FIELD(NID_organizationalUnitName, organizationalUnit),
    KLAV_FIELD(NID_stateOrProvinceName, stateOrProvince),
    KLAV_FIELD(NID_commonName, commonName),
    KLAV_FIELD(NID_localityName, locality),
    KLAV_FIELD(NID_title, title),
    KLAV_FIELD(NID_surname, surname),
    KLAV_FIELD(NID_givenName, givenName),
    KLAV_FIELD(NID_initials, initials),
    KLAV_FIELD(NID_pkcs9_emailAddress, email),
};
#undef KLAV_FIELD

// A subject field as stored: bounded by its array even without a terminator.
std::string fieldText(const char* field) {
    return std::string(field, strnlen(field, sizeof(KLAV_SUBJECT::country)));
}

bool addSubject(X509_NAME* name, const KLAV_SUBJECT& subject, int form) {
    for (const SubjectField& field : kSubjectFields) {
        const std::string text = fieldText(field.text(subject));
        if (text.empty()) continue;
        int added = 0;
        if (form == KLAV_PKCS10_ASCII) {
            added = X509_NAME_add_entry_by_NID(name, field.nid, MBSTRING_ASC,
                                               reinterpret_cast<const unsigned char*>(text.c_str()),
                                               -1, -1, 0);
        } else {
            std::string utf8;
            added = gbkToUtf8(text.c_str(), utf8) &&
                    X509_NAME_add_entry_by_NID(name, field.nid, V_ASN1_UTF8STRING,
                                               reinterpret_cast<const unsigned char*>(utf8.data()),
                                               static_cast<int>(utf8.size()), -1, 0);
        }
        if (!added) return false;
    }
    return true;
}

struct RequestFree {
    void operator()(X509_REQ* request) const { X509_REQ_free(request); }
};

}  // namespace

int KLAV_GenPKCS10(const KLAV_SUBJECT* subject, const KLAV_RSA_KEY* privateKey, int digest,
                   int form, unsigned char* out, int* outLen) {
    if (form != KLAV_PKCS10_ASCII && form != KLAV_PKCS10_UTF8) return fail(KLAV_ERR_TYPE, outLen);
    const EVP_MD* md = digestForCode(digest);
    if (md == nullptr) return fail(KLAV_ERR_TYPE, outLen);
    if (subject == nullptr || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    Pkey key = loadPrivateKey(privateKey);
    if (!key) return fail(KLAV_ERR_RSA_KEY, outLen);
    std::unique_ptr<X509_REQ, RequestFree> request(X509_REQ_new());
    if (!request || X509_REQ_set_version(request.get(), 0) != 1 ||
        X509_REQ_set_pubkey(request.get(), key.get()) != 1 ||
        !addSubject(X509_REQ_get_subject_name(request.get()), *subject, form)) {
        ERR_clear_error();
        return fail(KLAV_ERR_SETUP, outLen);
    }
    if (X509_REQ_sign(request.get(), key.get(), md) <= 0) {
        ERR_clear_error();
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    const int length = i2d_X509_REQ(request.get(), nullptr);
    if (length <= 0 || length > KLAV_PKCS10_OUT_MAX) return fail(KLAV_ERR_SETUP, outLen);
    unsigned char* cursor = out;
    *outLen = i2d_X509_REQ(request.get(), &cursor);
    return KLAV_OK;
}

int KLAV_GetMyCert(const KLAV_SESSION* session, KLAV_CERT_SUMMARY* out) {
    if (session == nullptr) return KLAV_ERR_CRYPTO;
    return summary(session->myCert, session->myCertLength, out);
}

int KLAV_GetPeerCert(const KLAV_SESSION* session, KLAV_CERT_SUMMARY* out) {
    if (session == nullptr) return KLAV_ERR_CRYPTO;
    return summary(session->peerCert, session->peerCertLength, out);
}

int KLAV_GetCertInfo(const unsigned char* cert, int length, KLAV_CERT_INFO* info) {
    if (info == nullptr) return KLAV_ERR_CRYPTO;
    std::memset(info, 0, sizeof *info);
    Certificate certificate;
    const int rc = loadCertificate(cert, length, certificate);
    if (rc != KLAV_OK) return rc;
    fillInfo(certificate.get(), info);
    return KLAV_OK;
}

int KLAV_GetCertInfoEx(const void* x509, KLAV_CERT_INFO* info) {
    if (x509 == nullptr || info == nullptr) return KLAV_ERR_CRYPTO;
    fillInfo(static_cast<const X509*>(x509), info);
    return KLAV_OK;
}

int KLAV_GetCertInfoByOID(const unsigned char* cert, int length, int nid, char* out, int* outLen) {
    if (out == nullptr || outLen == nullptr) return fail(KLAV_ERR_CRYPTO, outLen);
    Certificate certificate;
    const int rc = loadCertificate(cert, length, certificate);
    if (rc != KLAV_OK) return fail(rc, outLen);
    return extensionHex(certificate.get(), nid, out, outLen);
}

int KLAV_GetCertInfoByOIDEx(const void* x509, int nid, char* out, int* outLen) {
    if (x509 == nullptr || out == nullptr || outLen == nullptr)
        return fail(KLAV_ERR_CRYPTO, outLen);
    return extensionHex(static_cast<const X509*>(x509), nid, out, outLen);
}
