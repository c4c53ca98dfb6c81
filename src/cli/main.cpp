#include <cstdio>

int main() {
    std::puts("pairwell-cli");
    return 0;
}
