// horavelset: installs one archived object read from standard input (the settings dictionary or
// an account's policy list) and tells the daemon. It takes no options, reads no environment and
// writes nothing to standard output or standard error; the exit status says whether the request
// was carried out.

#include <unistd.h>

#include "common/table_element.h"
#include "installtool/install.h"

int main() {
    hv::registerTableElement();
    auto input = hv::readAllBounded(STDIN_FILENO);
    ::close(STDIN_FILENO);
    if (!input) return 1;
    return hv::install(*input, hv::Config{}).exitStatus();
}
