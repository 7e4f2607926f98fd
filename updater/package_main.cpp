// vantrel-package --key PRIVATE_KEY FOLDER ARCHIVE
// Packs FOLDER (an installation's bin/) into the installation package ARCHIVE, signed with
// the Ed25519 private key in the PEM file PRIVATE_KEY (doc/formats/package.md).

#include <cstdio>
#include <cstring>

#include "updater/package_archive.h"

int main(int argc, char** argv) {
    if (argc != 5 || std::strcmp(argv[1], "--key") != 0) {
        std::fprintf(stderr, "usage: vantrel-package --key PRIVATE_KEY FOLDER ARCHIVE\n");
        return 2;
    }
    if (vantrel::Status s = vantrel::updater::writePackage(argv[3], argv[4], argv[2]); !s) {
        std::fprintf(stderr, "vantrel-package: %s\n", s.text().c_str());
        return 1;
    }
    return 0;
}
