#include "console.h"
#include "frontend.h"

int main(int argc, char** argv) {
    int code = tw::dispatch(argc, argv);
    tw::console().flush();
    return code;
}
