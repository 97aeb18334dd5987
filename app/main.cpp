// Until the windows exist, the program starts and ends cleanly.
#include <cstdio>

int main() {
    std::printf("Zarvel %s\n", ZARVEL_VERSION);
    return 0;
}
