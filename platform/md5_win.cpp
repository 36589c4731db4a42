#include <windows.h>
#include <wincrypt.h>

#include "platform/md5.h"

namespace kavo::platform {

struct Md5::Impl {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool ok = false;
};

Md5::Md5() : impl_(std::make_unique<Impl>()) {
    impl_->ok = ::CryptAcquireContextW(&impl_->provider, nullptr, nullptr, PROV_RSA_FULL,
                                       CRYPT_VERIFYCONTEXT) &&
                ::CryptCreateHash(impl_->provider, CALG_MD5, 0, 0, &impl_->hash);
}

Md5::~Md5() {
    if (impl_->hash) {
        ::CryptDestroyHash(impl_->hash);
    }
    if (impl_->provider) {
        ::CryptReleaseContext(impl_->provider, 0);
    }
}

bool Md5::Ok() const {
    return impl_->ok;
}

void Md5::Update(const void* data, size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    while (impl_->ok && size > 0) {
        const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        if (!::CryptHashData(impl_->hash, p, piece, 0)) {
            impl_->ok = false;
        }
        p += piece;
        size -= piece;
    }
}

Md5Digest Md5::Finish() {
    Md5Digest d{};
    DWORD len = static_cast<DWORD>(d.size());
    if (!impl_->ok || !::CryptGetHashParam(impl_->hash, HP_HASHVAL, d.data(), &len, 0)) {
        d = {};
    }
    impl_->ok = false;
    return d;
}

}  // namespace kavo::platform
