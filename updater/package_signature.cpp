#include "updater/package_signature.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <climits>
#include <cstdio>
#include <memory>

#include "platform/files.h"

namespace vantrel::updater {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// The Ed25519 key in a PEM file (private or public), or null when the file is missing,
// unreadable, or holds another kind of key.
Pkey readKey(const std::filesystem::path& file, bool isPrivate) {
    Result<std::string> text = platform::readFile(file);
    if (!text || text->size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    std::unique_ptr<BIO, BioFree> in(BIO_new_mem_buf(text->data(), static_cast<int>(text->size())));
    if (!in) return nullptr;
    Pkey key(isPrivate ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr)
                       : PEM_read_bio_PUBKEY(in.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        ERR_clear_error();  // what went wrong is said by the caller
        return nullptr;
    }
    return key;
}

}  // namespace

Result<std::string> signMessage(std::string_view message,
                                const std::filesystem::path& privateKeyFile) {
    const Pkey key = readKey(privateKeyFile, true);
    if (!key) {
        return Status::error(ErrorKind::InvalidArgument,
                             "不是Ed25519私钥文件[" + privateKeyFile.string() + "]");
    }
    const MdCtx context(EVP_MD_CTX_new());
    std::string signature(kSignatureSize, '\0');
    std::size_t length = signature.size();
    // Ed25519 signs the message itself, in one call, with no separate digest.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1 ||
        length != kSignatureSize) {
        ERR_clear_error();
        return Status::error(ErrorKind::IoError, "签名失败");
    }
    return signature;
}

Status verifySignature(std::string_view message, std::string_view signature,
                       const std::filesystem::path& publicKeyFile) {
    std::error_code ec;
    if (!std::filesystem::exists(publicKeyFile, ec)) {
        return Status::error(ErrorKind::NotFound,
                             "缺少安装包验证公钥[" + publicKeyFile.string() + "]");
    }
    const Pkey key = readKey(publicKeyFile, false);
    if (!key) {
        return Status::error(ErrorKind::InvalidArgument,
                             "安装包验证公钥无效[" + publicKeyFile.string() + "]");
    }
    const MdCtx context(EVP_MD_CTX_new());
    if (!context || signature.size() != kSignatureSize ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                         message.size()) != 1) {
        ERR_clear_error();
        return Status::error(ErrorKind::Corruption, "安装包签名不正确");
    }
    return Status::ok();
}

}  // namespace vantrel::updater
