// A program that only sleeps 10 ms in a loop: what a 10 ms poll costs under Wine by itself, for
// the CPU benchmark (bench/capture_cpu_wine.sh).

#include <windows.h>

int main() {
    for (;;) {
        Sleep(10);
    }
}
