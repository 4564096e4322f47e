// Writes orvex.pyi: the hand-written head (the functions of orvex.py) and one stub per row of the
// operations table, the same signatures and docstrings the module defines at import.

#include "python/wrapper_text.h"

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: orvex-pystub HEAD.pyi OUT.pyi\n";
        return 1;
    }
    std::ifstream head(argv[1], std::ios::binary);
    if (!head) {
        std::cerr << "orvex-pystub: cannot read " << argv[1] << '\n';
        return 1;
    }
    std::ostringstream text;
    text << head.rdbuf();
    text << WrapperSource(true);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << text.str();
    out.close();
    if (!out) {
        std::cerr << "orvex-pystub: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
