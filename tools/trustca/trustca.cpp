// Adds a DER certificate to the current user's ROOT store of a Wine prefix,
// so that the prefix trusts the test CA of the local loopback servers.
// Usage: trustca <certificate.der>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trustca <certificate.der>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fprintf(stderr, "trustca: cannot read %s\n", argv[1]);
        return 1;
    }
    HCERTSTORE store = ::CertOpenSystemStoreA(0, "ROOT");
    if (!store) {
        std::fprintf(stderr, "trustca: cannot open the ROOT store (%lu)\n", ::GetLastError());
        return 1;
    }
    const BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                          static_cast<DWORD>(der.size()),
                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = ::GetLastError();
    ::CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "trustca: cannot add the certificate (%lu)\n", error);
        return 1;
    }
    return 0;
}
