// horavelset: installs one archived object read from standard input (the settings dictionary or
// an account's policy list) and tells the daemon. It reads no environment and, when installing,
// writes nothing to standard output or standard error; the exit status says whether the request
// was carried out. "--version" and "--help" are answered on standard output; any other argument
// is refused with exit status 2 before standard input is read.

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/table_element.h"
#include "installtool/install.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("horavelset %s\n", HORAVEL_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: horavelset [--help | --version] < archive\n"
                    "Installs the settings dictionary or an account's policy list (a typedstream on standard\n"
                    "input, as horavelctl writes it) and tells the daemon. Exit status 0 when installed.\n");
        return 0;
    }
    if (argc != 1) {
        std::fputs("usage: horavelset [--help | --version] < archive\n", stderr);
        return 2;
    }
    hv::registerTableElement();
    auto input = hv::readAllBounded(STDIN_FILENO);
    ::close(STDIN_FILENO);
    if (!input) return 1;
    return hv::install(*input, hv::Config{}).exitStatus();
}
