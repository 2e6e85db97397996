// qex: entry point. The command line is parsed and dispatched by the front end.
#include <cstdio>

int main() {
    std::puts("qex");
    return 0;
}
