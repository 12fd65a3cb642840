// Build tool: writes the manual page made from the option texts. Usage: lumarex-manpage VERSION DATE OUT
#include "app/ManualPage.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lumarex-manpage VERSION DATE OUTPUT\n");
        return 2;
    }
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out << ManualPage::render(argv[1], argv[2]);
    out.close();
    if (!out) {
        std::fprintf(stderr, "lumarex-manpage: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
