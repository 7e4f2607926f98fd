// vantrel-package FOLDER ARCHIVE
// Packs FOLDER (an installation's bin/) into the installation package ARCHIVE.

#include <cstdio>

#include "updater/package_archive.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vantrel-package FOLDER ARCHIVE\n");
        return 2;
    }
    if (vantrel::Status s = vantrel::updater::writePackage(argv[1], argv[2]); !s) {
        std::fprintf(stderr, "vantrel-package: %s\n", s.text().c_str());
        return 1;
    }
    return 0;
}
