#include <cstdio>

#include "frontend.h"

int main(int argc, char** argv) {
    int code = tw::dispatch(argc, argv);
    std::fflush(stdout);
    return code;
}
