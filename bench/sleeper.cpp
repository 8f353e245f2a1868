// A program that only sleeps 10 ms in a loop: what a 10 ms poll costs under Wine by itself, for
// the CPU benchmark (bench/capture_cpu_wine.sh). With "idle" it writes its process id and waits
// for ever instead: an owner for the benchmark's sessions that costs nothing meanwhile.

#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "idle") == 0) {
        std::printf("%lu\n", GetCurrentProcessId());
        std::fflush(stdout);
        Sleep(INFINITE);
    }
    for (;;) {
        Sleep(10);
    }
}
