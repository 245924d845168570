// Adds a throw-away authority to the machine's trusted roots, as an
// administrator would for a company's own authority, so that the tests' TLS
// servers can be trusted under it:
//
//   kqget-trust-test-authority CERTIFICATE.der
//
// Only ever run in the tests' own Wine prefix.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>
#include <windows.h> // with wincrypt.h

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fputs("usage: kqget-trust-test-authority CERTIFICATE.der\n", stderr);
        return 64;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<BYTE> der((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
    const HCERTSTORE root =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (der.empty() || root == nullptr) {
        std::fprintf(stderr, "cannot read the certificate or open the root store (error %lu)\n",
                     ::GetLastError());
        return 1;
    }
    const BOOL added = ::CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(),
                                                          static_cast<DWORD>(der.size()),
                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = ::GetLastError();
    ::CertCloseStore(root, 0);
    if (!added) {
        std::fprintf(stderr, "the root store refused the certificate (error %lu)\n", error);
        return 1;
    }
    return 0;
}
