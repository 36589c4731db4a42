#include "platform/md5.h"

#ifdef KAVO_HAVE_OPENSSL
#include <openssl/evp.h>
#else
#error "the native build needs libcrypto for MD5"
#endif

namespace kavo::platform {

struct Md5::Impl {
    EVP_MD_CTX* ctx = nullptr;
    bool ok = false;
};

Md5::Md5() : impl_(std::make_unique<Impl>()) {
    impl_->ctx = EVP_MD_CTX_new();
    impl_->ok = impl_->ctx != nullptr && EVP_DigestInit_ex(impl_->ctx, EVP_md5(), nullptr) == 1;
}

Md5::~Md5() {
    if (impl_->ctx) {
        EVP_MD_CTX_free(impl_->ctx);
    }
}

bool Md5::Ok() const {
    return impl_->ok;
}

void Md5::Update(const void* data, size_t size) {
    if (impl_->ok && EVP_DigestUpdate(impl_->ctx, data, size) != 1) {
        impl_->ok = false;
    }
}

Md5Digest Md5::Finish() {
    Md5Digest d{};
    unsigned int len = 0;
    if (impl_->ok && EVP_DigestFinal_ex(impl_->ctx, d.data(), &len) != 1) {
        d = {};
    }
    impl_->ok = false;
    return d;
}

}  // namespace kavo::platform
