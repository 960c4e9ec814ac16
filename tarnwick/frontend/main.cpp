#include "../platform/console.h"
#include "frontend.h"

int main() {
    int code = tw::dispatch();
    tw::console().flush();
    return code;
}
